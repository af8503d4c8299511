// The frame side of the project file: the output descriptions of the grid, read at construction,
// saved 5 s after the first edit since the last save, and saved at exit. A project file that
// cannot be used is set aside under a name that says why, so that no save writes over it.

#include "panel/uQuadrel.h"

#include "common/uSafeSave.h"
#include "panel/uProjectFile.h"
#include "panel/uRelayGrid.h"
#include "panel/uSettingsPlace.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

bool TfrQuadrel::SaveProject(const QString &aFilename)
{
    if (InitMode || aFilename.isEmpty() || !QFileInfo(aFilename).absoluteDir().exists())
        return false;
    // A damaged file that could not be moved aside is written over by the operator's edit only.
    if (fKeepUnusableProject)
        return false;
    TzProjectHints hints;
    for (int n = 1; n <= 20; ++n)
        hints[size_t(n - 1)] = SG_Relays->Description(n);
    QString error;
    const bool saved = WriteProjectFile(aFilename, hints, &error);
    ReportSaveResult(aFilename, saved, error);
    return saved;
}

bool TfrQuadrel::LoadProject(const QString &aFilename)
{
    const QString what = QStringLiteral("Файл проекта");
    if (aFilename.isEmpty()) {
        // The construction could not make the project folder.
        if (InitMode) {
            QString folder = ProjectFolder();
            folder.chop(1);
            QString there;
            const TzPathKind kind = PathKindOf(folder, &there);
            const QString reason = kind == TzPathKind::File       ? QStringLiteral("на этом месте файл, а не папка")
                                   : kind == TzPathKind::NotAFile ? QStringLiteral("на этом месте %1").arg(there)
                                                                  : QStringLiteral("папку не удалось создать");
            NoteSettingsFault(QStringLiteral("Папка проектов %1 недоступна: %2. Описания выходов не читаются и не "
                                             "сохраняются.")
                                  .arg(QuotedPath(folder), reason));
        }
        return false;
    }
    TzStoredHints hints;
    QString reason;
    const TzProjectRead state = ReadProject(aFilename, hints, &reason);
    // What a damaged file gave whole before its damage is kept.
    int read = 0;
    for (int n = 1; n <= 20; ++n)
        if (const std::optional<QString> &hint = hints[size_t(n - 1)]) {
            SG_Relays->SetDescription(n, *hint);
            ++read;
        }
    const QString consequence =
        read > 0 ? QStringLiteral("описания, прочитанные до повреждения, восстановлены (%1)").arg(read)
                 : QStringLiteral("описания выходов не прочитаны");
    switch (state) {
    case TzProjectRead::Missing:
    case TzProjectRead::Valid: break;
    case TzProjectRead::Damaged:
        fKeepUnusableProject = !SetAsideUnusable(aFilename, what, QStringLiteral("damaged"), reason, consequence);
        break;
    case TzProjectRead::ForeignRoot:
        fKeepUnusableProject = !SetAsideUnusable(aFilename, what, QStringLiteral("foreign"), reason, consequence);
        break;
    case TzProjectRead::Unreadable:
        fKeepUnusableProject = !SetAsideUnusable(aFilename, what, QStringLiteral("unreadable"), reason, consequence);
        break;
    case TzProjectRead::NotAFile:
        NoteSettingsFault(QStringLiteral("%1 %2 недоступен: %3. Описания выходов не читаются и не сохраняются.")
                              .arg(what, QuotedPath(aFilename), reason));
        break;
    }
    return state == TzProjectRead::Valid;
}

void TfrQuadrel::ProjSaveTimerTimer()
{
    // An edit of the operator's own: the project is saved anew, whatever was there.
    fKeepUnusableProject = false;
    SaveProject(ProjectPath);
    ProjSaveTimer->stop();
}
