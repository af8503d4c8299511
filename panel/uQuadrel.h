#pragma once
// TfrQuadrel: the panel frame for one Quadrel module: connection settings, output grid, status
// labels and the features' panels. The connection to the module is its link (TzQuadrelLink): the
// frame calls it and shows what its signals tell. Each duty lives in its own source file:
// construction and layout (uQuadrel.cpp, uQuadrelControls.cpp), the connection page and what the
// screen shows of the link (uQuadrelConnection.cpp), register access through the link
// (uQuadrelRegisters.cpp) and the operator's commands to the outputs
// (uQuadrelRelays.cpp). The outputs' records are a model (TzOutputsModel) the grid shows; the
// features are panels of their own: pulse width (TzPulseWidthPanel), light sequences
// (TzSequencePanel), device settings with restart and identifier (TzDeviceSettingsPanel), bus
// search (TzSearchPanel), web bridge (TzWebBridgePanel), options file (TzPanelOptions), autorun
// panel and styles (TzAutorunPanel) and project file (TzProjectKeeper).

#include "model/uGlobals.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelHost.h"
#include "settings/uOptionsFile.h"

#include <QDateTime>
#include <QFrame>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <QDateTime>
#include <QElapsedTimer>

#include <array>
#include <bitset>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QScrollBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QWidget;
class TzSearchPanel;
struct TzConnectionPage;
class TzAutorunPanel;
class TzPanelOptions;
class TzProjectKeeper;
class TzSettingsFaults;
class TzQuadrelLink;
class TzJournal;
class TzJournalWriter;
class TfrmJournal;
struct TzLinkSettings;
class TzPictureLabel;
class TzPulseWidthPanel;
class TzSequencePanel;
class TzRelayGrid;
class TzDeviceSettingsPanel;
class TzWebBridgePanel;

class TfrQuadrel : public QFrame, public TzPanelHost
{
    Q_OBJECT

public:
    explicit TfrQuadrel(QWidget *AOwner = nullptr);
    ~TfrQuadrel() override;

    // The connection to the module: the panel calls it and shows what its signals tell.
    TzQuadrelLink *Link() const { return fLink.get(); }
    // The twenty outputs as the panel knows them; the grid shows them.
    TzOutputsModel &Outputs() const { return *fOutputs; }
    // The pulse-width panel and the light sequences' panel.
    TzPulseWidthPanel &PulseWidth() const { return *fPulseWidth; }
    TzSequencePanel &Sequences() const { return *fSequences; }

    // --- what the features' panels ask of the window (TzPanelHost) ---
    // The journal's writer: for the journal window and for tests.
    TzJournalWriter *JournalWriter() const { return fJournalWriter.get(); }
    // Opens the window "Журнал" (made on first use) and brings it to the front.
    TfrmJournal *ShowJournal();
    TzQuadrelLink &HostLink() override { return *fLink; }
    bool HostConnected() const override { return Connected; }
    void PopupPanel(QWidget *aTarget, QWidget *aPanel, TzPanelAlign aPosition) override;
    void CloseAllPanel() override;

    // --- for the application ---
    // Puts a port at the top of the list and selects it (the demo's simulated module).
    void AddPortOnTop(const QString &aPortName);
    // "COM12" for Windows-style names, otherwise the port's own name ("/dev/ttyUSB0").
    QString PortCaption() const;
    // Connects as a click on "Подключиться" does (the demo's "--connect").
    void ConnectAsClicked();
    // The logo picture: the window's system menu opens from it.
    TzPictureLabel *Logo() const { return imgLogo; }
    // Whether the main window starts minimised: an autorun start with "Autorun_mini" set.
    bool StartMinimised() const;
    // An "/autorun" start: notices become log lines, nothing waits for the operator.
    bool Silent() const { return SilenceMode; }
    void SetSilent(bool aSilent) { SilenceMode = aSilent; }
    // The frame is still being built (its saves are held back meanwhile).
    bool Initialising() const { return InitMode; }

    // --- what the screen shows of the connection ---
    void Disconnect();
    bool IsEthernetPage() const;
    bool ValuesStale() const { return fValuesStale; }
    // The register template loaded; without it the panel refuses to connect.
    bool TemplateLoaded() const;
    // The module address, serial port number and line speed the panel connects with.
    int ModuleAddress() const { return DevAddr; }
    int ComPortNumber() const { return ComPort; }
    int LineSpeed() const { return BaudRate; }

    // --- register access through the link (uQuadrelRegisters.cpp) ---
    bool TryValueByID(int aID, int &aValue) const;
    bool TryValueByID(int aID, double &aValue) const;
    // A write that reaches the module in the order given, through the link.
    void SetRegInOrder(int aID, double aValue);

    // --- the features' panels ---
    TzDeviceSettingsPanel &DeviceSettings() const { return *fDeviceSettings; }
    TzWebBridgePanel &WebBridge() const { return *fWebBridge; }
    // Saves the connection, autorun and style settings as shown (not while the frame is built).
    void SaveOptions();

protected:
    void resizeEvent(QResizeEvent *aEvent) override;
    void showEvent(QShowEvent *aEvent) override;
    void hideEvent(QHideEvent *aEvent) override;
    void mousePressEvent(QMouseEvent *aEvent) override;

private:
    // What only the frame itself calls: its handlers, features and state.

    // --- state ---
    bool InitMode = false;
    bool SilenceMode = false;
    bool Connected = false;
    int DevAddr = 16;
    int ComPort = 0;
    int BaudRate = 9600;
    bool TableRelaysA_IsOn = false;
    bool TableRelaysB_IsOn = false;
    int AniSlide = 0;

    // --- controls, by the names the operator's tools and the tests find them ---
    QPushButton *btnComPort = nullptr;
    QPushButton *btnRS485 = nullptr;
    QPushButton *btnDOUT = nullptr;
    QPushButton *btnConnect = nullptr;
    QPushButton *btnHelp = nullptr;
    QPushButton *btnPortObserver = nullptr;
    QPushButton *btnAutorun = nullptr;

    QLabel *labAddr = nullptr;
    QLabel *labBaudRate = nullptr;
    QLabel *labFormat = nullptr;
    QLabel *labVerPO = nullptr;
    QLabel *labPower1 = nullptr;
    QLabel *labTest = nullptr;
    QLabel *labAni = nullptr;

    TzPictureLabel *imgLogo = nullptr;
    TzPictureLabel *imgArrow = nullptr;
    TzPictureLabel *imgFindDevice = nullptr;
    TzPictureLabel *imgFindDeviceEth = nullptr;
    TzPictureLabel *imgRefreshPortList = nullptr;

    QFrame *panComPort = nullptr;
    QTabWidget *ConnectPager = nullptr;
    QWidget *PageConnCOM = nullptr;
    QWidget *PageConnEthernet = nullptr;
    QComboBox *cbComPort = nullptr;
    QComboBox *cbLineBaudRate = nullptr;
    QComboBox *cbLineFormat = nullptr;
    QLineEdit *txtLineAddr = nullptr;
    QLineEdit *txtLineTimeout = nullptr;
    QLineEdit *txtEthernetAddr = nullptr;
    QLineEdit *txtEthernetPort = nullptr;
    QLineEdit *txtEthernetTimeout = nullptr;
    QComboBox *cbLineFormatEth = nullptr;
    QLineEdit *txtLineAddrEth = nullptr;

    QComboBox *cbStyles = nullptr;

    TzRelayGrid *SG_Relays = nullptr;

    QPushButton *btnVerInfo = nullptr;
    QPushButton *btnTempLog = nullptr;
    QLabel *labDate = nullptr;
    QLabel *labTime = nullptr;
    QLabel *labDOUTS = nullptr;
    TzPictureLabel *imgHat = nullptr;

    QTimer *InterfaceTimer = nullptr;
    QTimer *ArrowTimer = nullptr;
    QTimer *AniTimer = nullptr;

    // --- construction (uQuadrel.cpp) ---
    void FrameClick();
    void EnumSerialPorts();
    void CreateNewStyleRelaysGrid();
    void FrameResize();
    void btnHelpClick();
    void AppException(QObject *Sender, const QString &aMessage);
    int MessageBoxNew(QWidget *hWnd, const QString &lpText, const QString &lpCaption, int uType);

    // --- connection and polling (uQuadrelConnection.cpp) ---
    // The screen refresh of every 500 ms: labels, animations, stale marking.
    void InterfaceTimerTimer();
    // The first cycle is done: the labels show the module (the device settings panel fills itself).
    void AfterFirstUpdate();
    void ButtonsEnabled(bool aEnabled);
    void Anima(bool aEnabled);
    void AniTimerTimer();
    void ArrowTimerTimer();
    void btnConnectClick();
    void DoConnect();
    // The link's probe was answered: connected when the answer names a Quadrel.
    void ProbeAnswered(bool aIsQuadrel);
    // A second passed without a Quadrel answering the probe.
    void ConnectFailed();
    void cbComPortChange();
    void ConnectPagerChange();
    void ClearLabels(const QString &ClearText);
    // Sets Connected and starts or stops what depends on it: the arrow that points at the connect
    // button while disconnected, and the web bridge's poll.
    void SetConnected(bool aConnected);
    // The arrow moves only while it is there to be seen: disconnected, with the frame shown.
    void UpdateArrow();
    // The values on screen are older than the poll's failure allowance: greyed, with a hint.
    void MarkStale(bool aStale);
    // The hint of stale values: since when the module has not answered.
    QString StaleHint() const;

    // --- register access through the link (uQuadrelRegisters.cpp) ---
    void SetRegByID(int aID, double aValue, bool aForced);

    // --- outputs (uQuadrelRelays.cpp) ---
    void SendDOUT(int aIndex, bool aOn);
    void SG_RelaysMouseDown(int aCol, int aRow);
    void SetDOUT(int aIndex, bool aOn);
    // Switches one output on or off on the operator's request (the toggle and the drag).
    void SwitchRelay(int aIndex, bool aOn);
    void SG_RelaysMouseMove(int aCol, int aRow);
    void SG_RelaysMouseUp();
    // A new connection begins: every output is unknown until its state is read.
    void ForgetOutputStates();
    void btnRS485Click(QWidget *Sender);

    // --- light sequences (TzSequencePanel) ---
    // Stops both sequences without a write and drops the ordered writes not yet handed over: on
    // disconnection, restart and close.
    void StopSequences();

    // --- device settings, restart and identifier (uDeviceSettingsPanel.cpp) ---
    TzDeviceSettingsPanel *fDeviceSettings = nullptr;
    // The settings applied on the module: the connection page takes them for the next connection.
    void TakeDeviceSettings(int aAddress, int aSpeedCode, int aFormatItem);
    // The module restarted under new settings: the window lets go of it.
    void LetGoAfterRestart();

    // --- port observer (uQuadrel.cpp) ---
    void btnPortObserverClick();

    // --- bus search (TzSearchPanel, a child of the frame) ---
    TzSearchPanel *fSearch = nullptr;
    // The connection panel's fields, as the features that read or fill them are given them.
    TzConnectionPage ConnectionPage() const;

    // --- web bridge (uWebBridgePanel.cpp) ---
    // The one-second poll of the service, the proxy panel and the remote-control box; built once
    // the options (and with them the style) are loaded, since the proxy panel takes its size then.
    TzWebBridgePanel *fWebBridge = nullptr;

    // --- options file (TzPanelOptions), autorun and styles (TzAutorunPanel), project file
    // (TzProjectKeeper), and what they say about the files (TzSettingsFaults) ---
    std::unique_ptr<TzSettingsFaults> fSettingsFaults;
    TzAutorunPanel *fAutorun = nullptr;
    TzPanelOptions *fOptions = nullptr;
    TzProjectKeeper *fProject = nullptr;
    // Builds them and wires what they tell the window.
    void CreateSettingsKeepers();
    // The web bridge's settings from the options file into its controls; a bridge without a key
    // gets one of its own.
    void LoadHTTPOptions();
    // The web bridge's settings from its controls into the options file.
    void SaveHTTPOptions();

    // --- state ---
    QPointer<QWidget> CurrPanel;
    int AniDirect = 1;
    int ArrowStep = 1;
    bool DoItOnceOnStart = true;

    // uQuadrelControls.cpp: builds every control with its name, caption, hint and accessible name.
    void CreateControls();
    void ConnectSignals();
    // Every push button's caption fits, or is drawn elided with the whole caption in its hint.
    void FitButtonCaptions();

    // Each feature builds and wires its own controls in its own file.
    std::unique_ptr<TzQuadrelLink> fLink;
    // The journal: its writer (a thread of its own, Journal.sqlite beside Options.xml) and the
    // collector listening to the link.
    std::unique_ptr<TzJournalWriter> fJournalWriter;
    std::unique_ptr<TzJournal> fJournal;
    std::unique_ptr<TfrmJournal> fJournalWindow;
    TzOutputsModel *fOutputs = nullptr;
    // The features' panels, children of the frame.
    TzPulseWidthPanel *fPulseWidth = nullptr;
    TzSequencePanel *fSequences = nullptr;
    // Wires the link's signals to what shows them.
    void ConnectLink();
    void StartJournal();
    void LoadTemplate();
    // The settings of the connection being attempted, for its success and failure lines.
    void RememberAttempt(const TzLinkSettings &aSettings);
    // Runs a panel button's action after a click, a key or an accessible toggle changed its state.
    void PanelButtonToggled(QPushButton *aButton);

    enum TzDragCommand { DragNone, DragSwitchOff, DragSwitchOn };
    TzDragCommand fDragCommand = DragNone;
    std::bitset<21> fDragDone;

    bool fValuesStale = false;
    // The frame is on the screen: shown, and its window not minimised.
    bool fOnScreen = false;

    // What the connection attempt used: module address, port or converter, speed, format.
    int fAttemptAddress = 0;
    QString fAttemptEndpoint;
    QString fAttemptSpeed;
    int fAttemptFormatItem = 0;
    QString fAttemptFormatText;

    // Set while the frame itself changes the panel buttons' pressed state.
    bool fSyncingPanelButtons = false;
};

// Registers TfrQuadrel as the frame of ("Quadrel", 100).
void RegisterQuadrelFrame();
