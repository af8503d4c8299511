// The frame side of the project file: the output descriptions of the grid, read at construction,
// saved 5 s after the first edit since the last save, and saved at exit.

#include "panel/uQuadrel.h"

#include "panel/uProjectFile.h"
#include "panel/uRelayGrid.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

bool TfrQuadrel::SaveProject(const QString &aFilename)
{
    if (InitMode || aFilename.isEmpty() || !QFileInfo(aFilename).absoluteDir().exists())
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
    if (aFilename.isEmpty())
        return false;
    TzStoredHints hints;
    if (!ReadProjectFile(aFilename, hints))
        return false;
    for (int n = 1; n <= 20; ++n)
        if (const std::optional<QString> &hint = hints[size_t(n - 1)])
            SG_Relays->SetDescription(n, *hint);
    return true;
}

void TfrQuadrel::ProjSaveTimerTimer()
{
    SaveProject(ProjectPath);
    ProjSaveTimer->stop();
}
