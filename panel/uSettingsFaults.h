#pragma once
// What the panel says about its settings files (Options.xml and the project file): a save that
// failed, once per failure, and a file found unusable, set aside under a name that says why so
// that no save writes over it. Faults found while the window is being built are gathered into one
// notice shown when it is up (none in an unattended start).

#include <QHash>
#include <QString>
#include <QStringList>

class QWidget;

class TzSettingsFaults
{
public:
    // The window is still being built: faults are gathered for the start notice.
    bool AtStart() const { return fAtStart; }
    // One log line per failure of a settings file; the same failure again is not repeated until
    // a save of that file succeeds.
    void ReportSave(const QString &aFileName, bool aSaved, const QString &aError);
    // A settings or project file found unusable: one log line, and at start a line of the notice.
    void Note(const QString &aText);
    // Moves an unusable file aside (its name marked with aMark) and says so, naming what it is
    // (aWhat), why (aReason) and what follows (aConsequence). False when it could not be moved: it
    // stays as it is.
    bool SetAside(const QString &aFileName, const QString &aWhat, const QString &aMark, const QString &aReason,
                  const QString &aConsequence);
    // The window is up: the faults gathered are shown in one notice over aParent that waits for
    // nobody; a silent start (or an "/autorun" one) has them in the log only.
    void ShowStartNotes(QWidget *aParent, bool aSilent);

private:
    QHash<QString, QString> fSaveErrors;
    QStringList fStartNotes;
    bool fAtStart = true;
};
