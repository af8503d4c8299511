#include "VelorCommonUtils/VelorIniFiles.h"

#include "common/uSafeSave.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcConfig, "quadrel.config")

bool SameName(const QString &aLeft, const QString &aRight)
{
    return aLeft.compare(aRight, Qt::CaseInsensitive) == 0;
}

// A value as the profile functions return it: trimmed, one pair of enclosing quotes removed.
QString Unquoted(QString aValue)
{
    aValue = aValue.trimmed();
    if (aValue.size() >= 2 && (aValue.front() == u'"' || aValue.front() == u'\'') && aValue.back() == aValue.front())
        return aValue.mid(1, aValue.size() - 2);
    return aValue;
}

// Line breaks would split a value into lines of their own.
QString OneLine(QString aText)
{
    aText.replace(u'\r', u' ');
    aText.replace(u'\n', u' ');
    return aText;
}

} // namespace

CConfigFile::CConfigFile(const QString &aFileName, bool aReadOnly) : fFileName(aFileName)
{
    const QFileInfo info(aFileName);
    m_FileExist = info.exists() && info.isFile();
    // The read-only attribute of Windows is the missing owner write permission here, which holds
    // for every user, the administrator included.
    m_ReadOnly = aReadOnly || (m_FileExist && !(info.permissions() & QFileDevice::WriteOwner));
    Load();
}

CConfigFile::~CConfigFile() = default;

void CConfigFile::Load()
{
    fLines.clear();
    QFile file(fFileName);
    if (!m_FileExist || !file.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    for (QString raw : text.split(u'\n')) {
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        Line line;
        line.Text = raw;
        const QString trimmed = raw.trimmed();
        const qsizetype equals = trimmed.indexOf(u'=');
        if (trimmed.startsWith(u'[') && trimmed.contains(u']')) {
            line.Kind = Line::Section;
            line.Name = trimmed.mid(1, trimmed.indexOf(u']') - 1).trimmed();
        } else if (!trimmed.startsWith(u';') && !trimmed.startsWith(u'#') && equals > 0) {
            line.Kind = Line::Entry;
            line.Name = trimmed.left(equals).trimmed();
            line.Value = Unquoted(trimmed.mid(equals + 1));
        }
        fLines.push_back(line);
    }
    // The split leaves one empty line for the final line break.
    if (!fLines.empty() && fLines.back().Kind == Line::Other && fLines.back().Text.isEmpty())
        fLines.pop_back();
}

QByteArray CConfigFile::Render() const
{
#ifdef Q_OS_WIN
    const QString lineBreak = QStringLiteral("\r\n");
#else
    const QString lineBreak = QStringLiteral("\n");
#endif
    QString text;
    for (const Line &line : fLines)
        text += line.Text + lineBreak;
    return text.toUtf8();
}

bool CConfigFile::Save()
{
    QString error;
    if (!SaveFileReplacing(fFileName, Render(), TzFileAccess::Shared, &error)) {
        // Said once: the object is read-only from now on, so no later write tries again.
        qCWarning(lcConfig).noquote() << "configuration not saved, now read-only:" << error;
        m_ReadOnly = true;
        return false;
    }
    m_FileExist = true;
    fPending = false;
    return true;
}

int CConfigFile::FindEntry(const QString &aSection, const QString &aIdent, int *aSectionEnd) const
{
    bool inSection = false;
    int found = -1;
    int sectionEnd = -1;
    for (int i = 0; i < int(fLines.size()); ++i) {
        const Line &line = fLines[size_t(i)];
        if (line.Kind == Line::Section) {
            inSection = SameName(line.Name, aSection);
            if (inSection && sectionEnd < 0)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (!line.Text.trimmed().isEmpty())
            sectionEnd = i + 1;
        if (found < 0 && line.Kind == Line::Entry && SameName(line.Name, aIdent))
            found = i;
    }
    if (aSectionEnd)
        *aSectionEnd = sectionEnd;
    return found;
}

QString CConfigFile::ReadString(const QString &aSection, const QString &aIdent, const QString &aDefault) const
{
    const int at = FindEntry(aSection, aIdent);
    return at >= 0 ? fLines[size_t(at)].Value : aDefault;
}

int CConfigFile::ReadInteger(const QString &aSection, const QString &aIdent, int aDefault) const
{
    bool ok = false;
    const int value = ReadString(aSection, aIdent, QString()).toInt(&ok);
    return ok ? value : aDefault;
}

bool CConfigFile::ValueExists(const QString &aSection, const QString &aIdent) const
{
    return FindEntry(aSection, aIdent) >= 0;
}

QStringList CConfigFile::ReadSections() const
{
    QStringList sections;
    for (const Line &line : fLines)
        if (line.Kind == Line::Section && !sections.contains(line.Name, Qt::CaseInsensitive))
            sections.append(line.Name);
    return sections;
}

QStringList CConfigFile::ReadSection(const QString &aSection) const
{
    QStringList keys;
    bool inSection = false;
    for (const Line &line : fLines) {
        if (line.Kind == Line::Section)
            inSection = SameName(line.Name, aSection);
        else if (inSection && line.Kind == Line::Entry && !keys.contains(line.Name, Qt::CaseInsensitive))
            keys.append(line.Name);
    }
    return keys;
}

void CConfigFile::SetInMemory(const QString &aSection, const QString &aIdent, const QString &aValue)
{
    const QString section = OneLine(aSection).trimmed();
    const QString ident = OneLine(aIdent).trimmed();
    const QString value = OneLine(aValue);
    Line entry;
    entry.Kind = Line::Entry;
    entry.Name = ident;
    entry.Value = value;
    entry.Text = ident + u'=' + value;

    int sectionEnd = -1;
    const int at = FindEntry(section, ident, &sectionEnd);
    if (at >= 0) {
        fLines[size_t(at)] = entry;
    } else if (sectionEnd >= 0) {
        fLines.insert(fLines.begin() + sectionEnd, entry);
    } else {
        if (!fLines.empty() && !fLines.back().Text.trimmed().isEmpty())
            fLines.push_back(Line{});
        Line header;
        header.Kind = Line::Section;
        header.Name = section;
        header.Text = u'[' + section + u']';
        fLines.push_back(header);
        fLines.push_back(entry);
    }
    fPending = true;
}

void CConfigFile::WriteString(const QString &aSection, const QString &aIdent, const QString &aValue)
{
    if (m_ReadOnly || aSection.trimmed().isEmpty() || aIdent.trimmed().isEmpty())
        return;
    const std::vector<Line> before = fLines;
    SetInMemory(aSection, aIdent, aValue);
    if (!Save())
        fLines = before; // reads keep answering what the file holds
}

void CConfigFile::UpdateFile()
{
    if (m_ReadOnly)
        return;
    if (fPending || !m_FileExist) {
        if (!fPending && fLines.empty())
            return; // nothing written yet: no empty file appears
        Save();
        return;
    }
    m_FileExist = QFileInfo::exists(fFileName);
}

bool CConfigFile::WriteFileFromIni(const CConfigFile &aIni)
{
    if (m_ReadOnly)
        return false;
    const std::vector<Line> before = fLines;
    for (const QString &section : aIni.ReadSections())
        for (const QString &key : aIni.ReadSection(section))
            SetInMemory(section, key, aIni.ReadString(section, key, QString()));
    UpdateFile();
    if (m_ReadOnly) {
        fLines = before;
        return false;
    }
    return true;
}

namespace {
const QString PathSection = QStringLiteral("Path");
const QString DefaultKind = QStringLiteral("default");
} // namespace

QString CVelorConfig::ConfLocation() const
{
    return ReadString(PathSection, QStringLiteral("ConfLocation"), QString());
}
QString CVelorConfig::ConfLocationType() const
{
    return ReadString(PathSection, QStringLiteral("ConfLocationType"), DefaultKind);
}
QString CVelorConfig::DataLocation() const
{
    return ReadString(PathSection, QStringLiteral("DataLocation"), QStringLiteral(".\\Data\\"));
}
QString CVelorConfig::DataLocationType() const
{
    return ReadString(PathSection, QStringLiteral("DataLocationType"), DefaultKind);
}
QString CVelorConfig::TMPLocation() const
{
    return ReadString(PathSection, QStringLiteral("TMPLocation"), QStringLiteral(".\\TMP\\"));
}
QString CVelorConfig::TMPLocationType() const
{
    return ReadString(PathSection, QStringLiteral("TMPLocationType"), DefaultKind);
}
QString CVelorConfig::LogLocation() const
{
    return ReadString(PathSection, QStringLiteral("LogLocation"), QString());
}
QString CVelorConfig::LogLocationType() const
{
    return ReadString(PathSection, QStringLiteral("LogLocationType"), DefaultKind);
}
QString CVelorConfig::LangLocation() const
{
    return ReadString(PathSection, QStringLiteral("LangLocation"), QStringLiteral(".\\Lang\\"));
}
QString CVelorConfig::LangLocationType() const
{
    return ReadString(PathSection, QStringLiteral("LangLocationType"), DefaultKind);
}
QString CVelorConfig::XMLLocation() const
{
    return ReadString(PathSection, QStringLiteral("XMLLocation"), QString());
}
QString CVelorConfig::XMLLocationType() const
{
    return ReadString(PathSection, QStringLiteral("XMLLocationType"), DefaultKind);
}
QString CVelorConfig::DocLocation() const
{
    return ReadString(PathSection, QStringLiteral("DocLocation"), QStringLiteral(".\\Doc\\"));
}
QString CVelorConfig::DocLocationType() const
{
    return ReadString(PathSection, QStringLiteral("DocLocationType"), DefaultKind);
}
QString CVelorConfig::InternalBufDir() const
{
    return ReadString(QStringLiteral("BufPth"), QStringLiteral("BufDir"), QString());
}
