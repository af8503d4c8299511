// The project file: the outputs' descriptions, its delayed save and the files set aside.

#include "panel/uProjectKeeper.h"

#include "common/uSafeSave.h"
#include "panel/uProjectFile.h"
#include "panel/uRelayGrid.h"
#include "panel/uSettingsFaults.h"
#include "settings/uSettingsPlace.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

const char *const ProjectFileName = "DefaultProject.xml";

} // namespace

TzProjectKeeper::TzProjectKeeper(TzRelayGrid *aGrid, TzSettingsFaults &aFaults, QObject *aParent)
    : QObject(aParent), fGrid(aGrid), fFaults(aFaults)
{
    setObjectName(QStringLiteral("ProjectKeeper"));
    const QString folder = ProjectFolder();
    if (QDir().mkpath(folder))
        fPath = folder + QString::fromLatin1(ProjectFileName);

    fSaveTimer = new QTimer(this);
    fSaveTimer->setObjectName(QStringLiteral("ProjSaveTimer"));
    fSaveTimer->setInterval(5000);
    fSaveTimer->setSingleShot(true);
    // The delayed save is never early, however busy the machine: edits are batched in windows of
    // full five seconds.
    fSaveTimer->setTimerType(Qt::PreciseTimer);
    connect(fSaveTimer, &QTimer::timeout, this, &TzProjectKeeper::SaveTimerTimer);
}

bool TzProjectKeeper::Save(const QString &aFileName)
{
    if (fFaults.AtStart() || aFileName.isEmpty() || !QFileInfo(aFileName).absoluteDir().exists())
        return false;
    // A damaged file that could not be moved aside is written over by the operator's edit only.
    if (fKeepUnusable)
        return false;
    TzProjectHints hints;
    for (int n = 1; n <= 20; ++n)
        hints[size_t(n - 1)] = fGrid->Description(n);
    QString error;
    const bool saved = WriteProjectFile(aFileName, hints, &error);
    fFaults.ReportSave(aFileName, saved, error);
    return saved;
}

bool TzProjectKeeper::Load(const QString &aFileName)
{
    const QString what = QStringLiteral("Файл проекта");
    if (aFileName.isEmpty()) {
        // The start could not make the project folder.
        if (fFaults.AtStart()) {
            QString folder = ProjectFolder();
            folder.chop(1);
            QString there;
            const TzPathKind kind = PathKindOf(folder, &there);
            const QString reason = kind == TzPathKind::File       ? QStringLiteral("на этом месте файл, а не папка")
                                   : kind == TzPathKind::NotAFile ? QStringLiteral("на этом месте %1").arg(there)
                                                                  : QStringLiteral("папку не удалось создать");
            fFaults.Note(QStringLiteral("Папка проектов %1 недоступна: %2. Описания выходов не читаются и не "
                                        "сохраняются.")
                             .arg(QuotedPath(folder), reason));
        }
        return false;
    }
    TzStoredHints hints;
    QString reason;
    const TzProjectRead state = ReadProject(aFileName, hints, &reason);
    // What a damaged file gave whole before its damage is kept.
    int read = 0;
    for (int n = 1; n <= 20; ++n)
        if (const std::optional<QString> &hint = hints[size_t(n - 1)]) {
            fGrid->SetDescription(n, *hint);
            ++read;
        }
    const QString consequence =
        read > 0 ? QStringLiteral("описания, прочитанные до повреждения, восстановлены (%1)").arg(read)
                 : QStringLiteral("описания выходов не прочитаны");
    switch (state) {
    case TzProjectRead::Missing:
    case TzProjectRead::Valid: break;
    case TzProjectRead::Damaged:
        fKeepUnusable = !fFaults.SetAside(aFileName, what, QStringLiteral("damaged"), reason, consequence);
        break;
    case TzProjectRead::ForeignRoot:
        fKeepUnusable = !fFaults.SetAside(aFileName, what, QStringLiteral("foreign"), reason, consequence);
        break;
    case TzProjectRead::Unreadable:
        fKeepUnusable = !fFaults.SetAside(aFileName, what, QStringLiteral("unreadable"), reason, consequence);
        break;
    case TzProjectRead::NotAFile:
        fFaults.Note(QStringLiteral("%1 %2 недоступен: %3. Описания выходов не читаются и не сохраняются.")
                         .arg(what, QuotedPath(aFileName), reason));
        break;
    }
    return state == TzProjectRead::Valid;
}

void TzProjectKeeper::DescriptionEdited()
{
    if (!fSaveTimer->isActive())
        fSaveTimer->start();
}

void TzProjectKeeper::SaveAtClose()
{
    fSaveTimer->stop();
    Save(fPath);
}

void TzProjectKeeper::SaveTimerTimer()
{
    // An edit of the operator's own: the project is saved anew, whatever was there.
    fKeepUnusable = false;
    Save(fPath);
    fSaveTimer->stop();
}
