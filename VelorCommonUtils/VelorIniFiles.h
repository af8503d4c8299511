#pragma once
// CConfigFile: an INI file that degrades to read-only instead of failing. Reads never fail (a
// missing key yields its default); a write to a read-only object does nothing; a write that cannot
// be saved makes the object read-only for the rest of its life and leaves the file as it was.
// Every write replaces the whole file through a temporary file, so the file on disk is always
// either the old or the new one. Comments and unknown lines of the file are kept.
//
// CVelorConfig: the suite-wide "velor.ini" with its named keys and their defaults.

#include <QString>
#include <QStringList>

#include <vector>

class CConfigFile
{
public:
    CConfigFile(const QString &aFileName, bool aReadOnly);
    virtual ~CConfigFile();

    QString FileName() const { return fFileName; }
    bool readonly() const { return m_ReadOnly; }
    bool ConfFileExist() const { return m_FileExist; }

    QString ReadString(const QString &aSection, const QString &aIdent, const QString &aDefault) const;
    int ReadInteger(const QString &aSection, const QString &aIdent, int aDefault) const;
    bool ValueExists(const QString &aSection, const QString &aIdent) const;
    // Section names in file order; the keys of one section in file order.
    QStringList ReadSections() const;
    QStringList ReadSection(const QString &aSection) const;

    void WriteString(const QString &aSection, const QString &aIdent, const QString &aValue);
    // Writes what is pending; a failure makes the object read-only.
    void UpdateFile();
    // Copies every key of every section of aIni into this file in one save; false when this object
    // is or became read-only.
    bool WriteFileFromIni(const CConfigFile &aIni);

private:
    struct Line
    {
        enum Kind { Other, Section, Entry } Kind = Other;
        QString Text;
        QString Name;  // section name or key
        QString Value; // value of an entry
    };

    void Load();
    QByteArray Render() const;
    bool Save();
    // Index of the entry, or -1; aSectionEnd receives the index after the section's last line that
    // is not blank (-1 when the section does not exist).
    int FindEntry(const QString &aSection, const QString &aIdent, int *aSectionEnd = nullptr) const;
    void SetInMemory(const QString &aSection, const QString &aIdent, const QString &aValue);

    QString fFileName;
    std::vector<Line> fLines;
    bool fPending = false;
    bool m_ReadOnly = false;
    bool m_FileExist = false;
};

class CVelorConfig : public CConfigFile
{
public:
    using CConfigFile::CConfigFile;

    QString ConfLocation() const;
    QString ConfLocationType() const;
    QString DataLocation() const;
    QString DataLocationType() const;
    QString TMPLocation() const;
    QString TMPLocationType() const;
    QString LogLocation() const;
    QString LogLocationType() const;
    QString LangLocation() const;
    QString LangLocationType() const;
    QString XMLLocation() const;
    QString XMLLocationType() const;
    QString DocLocation() const;
    QString DocLocationType() const;
    QString InternalBufDir() const;
};
