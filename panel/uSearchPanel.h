#pragma once
// The bus search on the panel: the search pictures of the connection pages start and stop a scan
// of the bus, the result panel beside the connection panel lists what answered, a click on a
// found module takes its settings into the connection fields, and a double click (or Enter)
// connects to it. The scan runs on its own engine (TfrmFindDevice); the window hears of what it
// must do through the signals.

#include "common/uStringBytes.h"
#include "panel/uConnectionPage.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QCheckBox;
class QFrame;
class QListWidget;
class QProgressBar;
class QWidget;
class TfrmFindDevice;
class TzPanelHost;

// A Quadrel module found by the search, with the connection settings it answered under.
struct TzFindDevice
{
    int ComPortIndx = -1;
    QString ComPortName; // the port itself: the list's indexes move when the list is refreshed
    int Addr = 0;
    int BaudRateIndx = -1;
    int FormatIndx = -1;
    QString Timeout;
    int aType = 0;
    TStringBytes Answer;
    uint32_t Timestamp = 0;
    bool IsCounter = false;
    bool ByEthernet = false; // found through the converter
};
Q_DECLARE_METATYPE(TzFindDevice)

// Roles of a result list entry: which kind of entry it is, the result itself, and the address
// that answered (a module or a device of another type).
enum TzFindEntryKind { fekNone = 0, fekCounter = 1, fekDevice = 2, fekUnknown = 3 };
inline constexpr int FindEntryKindRole = Qt::UserRole;
inline constexpr int FindEntryDeviceRole = Qt::UserRole + 1;
inline constexpr int FindEntryAddrRole = Qt::UserRole + 2;

class TzSearchPanel : public QObject
{
    Q_OBJECT

public:
    // Builds the result panel (panFind, a child of aFrame) and the check box for every speed and
    // format on the serial page, and wires the search pictures and the result list.
    TzSearchPanel(TzPanelHost &aHost, const TzConnectionPage &aPage, QWidget *aFrame);
    // The scan ends first: no outcome reaches the controls after this.
    ~TzSearchPanel() override;

    // The scan's engine: whether a scan runs, its pass and line settings.
    TfrmFindDevice &Engine() const { return *fEngine; }
    // Ends a scan under way (a connection is about to open the port).
    void StopScan();
    // Shows the result panel beside the connection panel while that is open, the module is not
    // connected and the list holds something; hides it otherwise.
    void ShowResultsIfAny();
    void HideResults();

signals:
    // The search filled the connection fields, or is about to read them: the window takes them
    // over (port number, speed) and saves them.
    void FieldsChanged();
    // A scan starts (true) or ends (false); the connect button waits meanwhile.
    void ScanRunning(bool aRunning);
    // A found module was chosen to connect to: its settings are in the fields.
    void ConnectRequested();
    // A notice for the operator (a message box, or a log line in a silent start).
    void Warning(const QString &aText);

private:
    void CreateControls(QWidget *aFrame);
    // The search picture: starts a scan, or ends the one under way; nothing while connected.
    void PictureClicked();
    bool Start();
    void Stop();
    void Progress(int aPos);
    void Found(int aAddr, const TStringBytes &aAnswer);
    // A click (or the arrow keys) on a found module takes its settings into the fields.
    void TakeSelected();
    // A double click (or Enter): the scan ends, since it holds the port, and the module connects.
    void ConnectSelected();
    // The fields the scan started with take no edits while it runs.
    void SetFieldsEnabled(bool aEnabled);

    TzPanelHost &fHost;
    TzConnectionPage fPage;
    std::unique_ptr<TfrmFindDevice> fEngine;
    QCheckBox *fAllSettings = nullptr;
    QFrame *fResults = nullptr;
    QListWidget *fList = nullptr;
    QProgressBar *fProgress = nullptr;
    int fAniPos = 1;
};
