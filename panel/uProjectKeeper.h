#pragma once
// The project file: the outputs' descriptions of the grid, read at start, saved 5 s after the
// first edit since the last save, and saved when the panel closes. A project file that cannot be
// used is set aside under a name that says why, so that no save writes over it; one that could
// not be set aside is written over by the operator's own edit only.

#include <QObject>
#include <QString>

class QTimer;
class TzRelayGrid;
class TzSettingsFaults;

class TzProjectKeeper : public QObject
{
    Q_OBJECT

public:
    // Makes the project folder; without it the project has no path, and nothing is read or saved.
    TzProjectKeeper(TzRelayGrid *aGrid, TzSettingsFaults &aFaults, QObject *aParent);

    // The project file of this panel; empty when its folder could not be made.
    QString Path() const { return fPath; }
    // Writes the grid's descriptions into aFileName; false when nothing was written.
    bool Save(const QString &aFileName);
    // Reads the descriptions of aFileName into the grid: what a damaged file gave whole before its
    // damage is kept. True only for a file read whole.
    bool Load(const QString &aFileName);
    // An output's description was edited: the project is saved 5 s after the first edit since
    // the last save (a running wait is not restarted).
    void DescriptionEdited();
    // The panel closes: the project is saved at once.
    void SaveAtClose();

private:
    void SaveTimerTimer();

    TzRelayGrid *fGrid;
    TzSettingsFaults &fFaults;
    QTimer *fSaveTimer = nullptr;
    QString fPath;
    // A damaged project file that could not be set aside: only the operator's own edit writes over it.
    bool fKeepUnusable = false;
};
