#pragma once
// The options file (Options.xml) between the file and the controls the panel gives it: the
// connection panel's fields, the autorun panel and the style list. A save writes what the controls
// show; the start reads the file into them. The web bridge's part (proxy, access key, service
// base) goes through here as values, so that its own controls stay with the bridge. A file that
// cannot be used is said once and set aside; a file of another program is never written.

#include "panel/uConnectionPage.h"
#include "settings/uOptionsFile.h"

#include <QObject>

class TzAutorunPanel;
class TzSettingsFaults;

class TzPanelOptions : public QObject
{
    Q_OBJECT

public:
    TzPanelOptions(const TzConnectionPage &aPage, TzAutorunPanel &aAutorun, TzSettingsFaults &aFaults,
                   QObject *aParent);

    // How the line engine ends an answer: kept in the file, with no control of its own.
    TzAnswerEnd AnswerEnd() const { return fAnswerEnd; }
    void SetAnswerEnd(TzAnswerEnd aEnd) { fAnswerEnd = aEnd; }

    // Writes the connection, autorun and style settings as the controls show them; aComPort is
    // the number of the port selected. Valid Ethernet fields also become the converter's settings.
    void Save(int aComPort);
    // Reads the file into the controls, at start. Defaults stay where the file has nothing usable.
    void Load();

    // The web bridge's settings: written (a failure said once), and read as the file holds them.
    void SaveHttp(const TzHttpOptions &aOptions);
    TzOptionsRead ReadHttp(TzStoredHttpOptions &aOptions) const;
    bool FileExists() const;

private:
    void LoadConnection(const TzStoredOptions &aStored);
    void LoadEthernet(const TzStoredOptions &aStored);
    void LoadAutorun(const TzStoredOptions &aStored);

    TzConnectionPage fPage;
    TzAutorunPanel &fAutorun;
    TzSettingsFaults &fFaults;
    TzAnswerEnd fAnswerEnd = TzAnswerEnd::Length;
};
