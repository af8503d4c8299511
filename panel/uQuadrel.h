#pragma once
// TfrQuadrel: the panel frame for one Quadrel module: connection settings, output grid, status
// labels and the features' panels. The connection to the module is its link (TzQuadrelLink): the
// frame calls it and shows what its signals tell. Each duty lives in its own source file:
// construction and layout (uQuadrel.cpp, uQuadrelControls.cpp), the connection page and what the
// screen shows of the link (uQuadrelConnection.cpp), register access through the link and field
// validation (uQuadrelRegisters.cpp), the operator's commands to the outputs (uQuadrelRelays.cpp),
// the device settings with restart and identifier (uQuadrelDevice.cpp), the bus search
// (uQuadrelSearch.cpp), the port observer (uQuadrelObserver.cpp), the web bridge (uQuadrelWeb.cpp),
// and the options and project files (uQuadrelOptions.cpp, uQuadrelProject.cpp). The outputs'
// records are a model (TzOutputsModel) the grid shows; the pulse-width panel (TzPulseWidthPanel)
// and the light sequences (TzSequencePanel) are features of their own.

#include "model/uGlobals.h"
#include "panel/uOptionsFile.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelHost.h"

#include <QDateTime>
#include <QFrame>
#include <QHash>
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
class QAction;
class QListWidget;
class QMenu;
class QProgressBar;
class QScrollBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QWidget;
class TzFormStyler;
class TzQuadrelLink;
class TzPictureLabel;
class TzPulseWidthPanel;
class TzSequencePanel;
class TzRelayGrid;
class TfrmFindDevice;
class TStringBytes;
struct TzCallbackInfo;

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
    TzQuadrelLink &HostLink() override { return *fLink; }
    bool HostConnected() const override { return Connected; }
    void PopupPanel(QWidget *aTarget, QWidget *aPanel, TzPanelAlign aPosition) override;
    void CloseAllPanel() override;

    // --- construction (uQuadrel.cpp) ---
    // Puts a port at the top of the list and selects it (the demo's simulated module).
    void AddPortOnTop(const QString &aPortName);
    void FrameClick();
    // "COM12" for Windows-style names, otherwise the port's own name ("/dev/ttyUSB0").
    QString PortCaption() const;

    // --- connection and polling (uQuadrelConnection.cpp) ---
    void Disconnect();
    // The first cycle is done: the labels and the settings panel show the module.
    void AfterFirstUpdate();
    void InterfaceTimerTimer();
    void ButtonsEnabled(bool aEnabled);
    void TryFindPanVisible();
    void Anima(bool aEnabled);
    void AniTimerTimer();
    void ArrowTimerTimer();
    bool IsEthernetPage() const;
    bool ValuesStale() const { return fValuesStale; }
    // The register template loaded; without it the panel refuses to connect.
    bool TemplateLoaded() const;

    // --- register access through the link, and field validation (uQuadrelRegisters.cpp) ---
    bool TryValueByID(int aID, int &aValue) const;
    bool TryValueByID(int aID, double &aValue) const;

    // --- outputs (uQuadrelRelays.cpp) ---
    void SendDOUT(int aIndex, bool aOn);
    void SG_RelaysMouseDown(int aCol, int aRow);

    // --- writes that reach the module in the order given, through the link ---
    void SetRegInOrder(int aID, double aValue);

    // --- device settings, restart and identifier (uQuadrelDevice.cpp) ---
    void btnRS485_ApplyClick();
    void SetMAC(const QByteArray &aMAC);

    // --- bus search (uQuadrelSearch.cpp) ---
    void imgFindDeviceClick();
    std::unique_ptr<TfrmFindDevice> FindDevice;
    QCheckBox *chkFindAllSettings = nullptr;
    // --- web bridge (uQuadrelWeb.cpp) ---
    void imgProxySettingsClick();
    // The service's base address; an empty text restores the built-in one.
    void SetHttpBase(const QString &aBase);

    // --- options file, autorun and styles (uQuadrelOptions.cpp) ---
    void SaveOptions();
    void SaveHTTPOptions();
    // Whether the main window starts minimised: an autorun start with "Autorun_mini" set.
    bool StartMinimised() const;

    // --- project file (uQuadrelProject.cpp) ---
    bool SaveProject(const QString &aFilename);
    bool LoadProject(const QString &aFilename);

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
    QString ProjectPath;
    QDateTime WebLastAnswer;   // when the service last answered
    QDateTime WebFailingSince; // first failure since then; invalid while it answers
    bool Autorun_mini = false;
    bool Autostart = false;
    bool Autostart_Delay_On = false;
    int Autostart_Delay_Value = 10;
    // How the line engine ends an answer, kept in the options file.
    TzAnswerEnd AnswerEnd = TzAnswerEnd::Length;
    // The web service's base address, kept in the options file when it holds one.
    std::optional<QString> HTTPBase;
    TzFormStyler *AdvFormStyler1 = nullptr;

    // --- controls, by the names the operator's tools and the tests find them ---
    QPushButton *btnComPort = nullptr;
    QPushButton *btnRS485 = nullptr;
    QPushButton *btnDOUT = nullptr;
    QPushButton *btnReset = nullptr;
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
    TzPictureLabel *imgProxySettings = nullptr;
    TzPictureLabel *imgOpenNano = nullptr;

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

    QFrame *panFind = nullptr;
    QListWidget *FindListBox = nullptr;
    QProgressBar *FindProgress = nullptr;

    QFrame *panRS485 = nullptr;
    QLineEdit *txtAddr = nullptr;
    QComboBox *cbBaudRate = nullptr;
    QComboBox *cbFormat = nullptr;
    QLineEdit *txtTimeout = nullptr;
    QPushButton *btnRS485_Apply = nullptr;
    QLabel *labNeedReset = nullptr;
    QFrame *panMAC = nullptr;
    QLabel *txtMAC = nullptr;
    QMenu *puMAC = nullptr;
    QAction *puMAC_Copy = nullptr;

    QFrame *panProxy = nullptr;
    QCheckBox *chkProxyUse = nullptr;
    QLineEdit *txtProxyServer = nullptr;
    QLineEdit *txtProxyPort = nullptr;
    QCheckBox *chkProxyNeedPass = nullptr;
    QLineEdit *txtProxyUser = nullptr;
    QLineEdit *txtProxyPass = nullptr;
    QLineEdit *txtAuthKey = nullptr;
    QPushButton *btnHTTP_Apply = nullptr;
    QPushButton *btnHTTP_Cancel = nullptr;
    QComboBox *cbStyles = nullptr;
    QFrame *panAutorun = nullptr;
    QCheckBox *chkAutorun = nullptr;
    QCheckBox *chkAutoStart = nullptr;
    QCheckBox *chkAutoStartDelay = nullptr;
    QLineEdit *txtAutostartDelay = nullptr;
    QCheckBox *chkAutorunMini = nullptr;
    QCheckBox *chkRemoteControl = nullptr;

    TzRelayGrid *SG_Relays = nullptr;

    QTimer *InterfaceTimer = nullptr;
    QTimer *ArrowTimer = nullptr;
    QTimer *ProjSaveTimer = nullptr;
    QTimer *PHP_Call_Timer = nullptr;
    QTimer *AutostartTimer = nullptr;
    QTimer *ResetBtn_Timer = nullptr;
    QTimer *RestartWait_Timer = nullptr; // single shot: the module's restart time

protected:
    void resizeEvent(QResizeEvent *aEvent) override;
    void showEvent(QShowEvent *aEvent) override;
    void hideEvent(QHideEvent *aEvent) override;
    void mousePressEvent(QMouseEvent *aEvent) override;

private:
    // What only the frame itself calls: its handlers, features and state.

    // --- construction (uQuadrel.cpp) ---
    void EnumSerialPorts();
    void CreateNewStyleRelaysGrid();
    void FrameResize();
    void btnHelpClick();
    void AppException(QObject *Sender, const QString &aMessage);
    int MessageBoxNew(QWidget *hWnd, const QString &lpText, const QString &lpCaption, int uType);

    // --- connection and polling (uQuadrelConnection.cpp) ---
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

    // --- register access through the link, and field validation (uQuadrelRegisters.cpp) ---
    void SetRegByID(int aID, double aValue, bool aForced);
    static bool CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
    static bool CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);

    // --- outputs (uQuadrelRelays.cpp) ---
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

    // --- device settings, restart and identifier (uQuadrelDevice.cpp) ---
    void btnResetClick();
    void ResetBtn_TimerTimer();
    // The end of the restart's wait: lets go of the module, if the restart's connection still runs.
    void RestartWaitEnded();
    void puMAC_CopyClick();

    // --- port observer (uQuadrelObserver.cpp) ---
    void btnPortObserverClick();

    // --- bus search (uQuadrelSearch.cpp) ---
    void CreateSearchControls();
    bool FindStart();
    void FindStop();
    void FindAddrProc(int aAddr, const TStringBytes &Answer);
    void FindProcessProc(int aPos);
    void FindListBoxClick();
    void FindListBoxDblClick();
    void SetFindFieldsEnabled(bool aEnabled);
    int FindProcessAniPos = 1;

    // --- web bridge (uQuadrelWeb.cpp) ---
    // Builds the proxy panel and connects the bridge's controls; the one-second poll of the service
    // runs while remote control is ticked and the module is connected (UpdateWebPoll).
    void CreateWebBridge();
    void PHP_Call_TimerTimer();
    // The service is polled only while remote control is ticked and the module is connected.
    void UpdateWebPoll();
    void ReqCallback(const TzCallbackInfo &aInfo);
    // Asks the service to switch output aIndex; the module is written by a later poll's answer.
    void SendRemoteOutput(int aIndex, bool aOn);
    // Outputs are switched through the web service: test mode on, remote control ticked, connected.
    bool RemoteControlOn() const;
    // Unticks remote control once test mode is off (it is out of sight then); true when it did.
    bool EndRemoteControlOutsideTestMode();
    // The request in flight for output aIndex ended: the state wanted meanwhile goes out now.
    void RemoteOutputEnded(int aIndex, bool aDelivered);
    void imgOpenNanoClick();
    void btnHTTP_ApplyClick();
    void btnHTTP_CancelClick();
    QString HttpBase() const { return fHttpBase; }
    // The address of a page of the service, with this module's identifier and the access key.
    QString ServiceUrl(const QString &aEndpoint, const QList<QPair<QString, QString>> &aExtra = {}) const;
    void CopyProxySettings();
    void UpdateRemoteHint();
    void NoteServiceOutcome(const TzCallbackInfo &aInfo);

    // --- options file, autorun and styles (uQuadrelOptions.cpp) ---
    void LoadOptions();
    void LoadHTTPOptions();
    void chkAutorunClick(QObject *Sender);
    void AutostartTimerTimer();
    void AdvFormStyler1Change();

    // --- project file (uQuadrelProject.cpp) ---
    void ProjSaveTimerTimer();

    // --- state ---
    QPointer<QWidget> CurrPanel;
    int AniDirect = 1;
    int ArrowStep = 1;
    bool DoItOnceOnStart = true;
    bool PollInFlight = false;                   // a poll of the service awaits its answer
    std::array<bool, 21> RemoteOutputInFlight{}; // an output request awaits its answer; 1..20
    std::array<bool, 21> RemoteOutputSent{};     // the state the request in flight asks for
    // The state last wanted while a request was in flight, sent when that request ends.
    std::array<std::optional<bool>, 21> RemoteOutputWanted{};
    QString WebFailReason;
    bool WebAnswerCut = false; // the last answer was longer than the requester keeps

    // --- controls, by the names the operator's tools and the tests find them ---
    QPushButton *btnVerInfo = nullptr;
    QPushButton *btnTempLog = nullptr;
    QLabel *labDate = nullptr;
    QLabel *labTime = nullptr;
    QLabel *labDOUTS = nullptr;
    TzPictureLabel *imgHat = nullptr;
    QTimer *AniTimer = nullptr;

    // uQuadrelControls.cpp: builds every control with its name, caption, hint and accessible name.
    void CreateControls();
    void ConnectSignals();
    // Every push button's caption fits, or is drawn elided with the whole caption in its hint.
    void FitButtonCaptions();

    QString fHttpBase;
    // uQuadrelOptions.cpp: the autorun and proxy panels, the style list and their handlers.
    void CreateOptionControls();
    void ConnectOptionSignals();
    // One log line per failure of a settings file; the same failure again is not repeated until
    // a save of that file succeeds.
    void ReportSaveResult(const QString &aFileName, bool aSaved, const QString &aError);
    QHash<QString, QString> fSaveErrors;
    // A settings or project file found unusable: one log line, and at start one notice for all
    // of them (none in an "/autorun" start), shown by ShowStartNotes at the end of construction.
    void NoteSettingsFault(const QString &aText);
    void ShowStartNotes();
    bool SetAsideUnusable(const QString &aFileName, const QString &aWhat, const QString &aMark, const QString &aReason,
                          const QString &aConsequence);
    QStringList fStartNotes;
    // A damaged project file that could not be set aside: only the operator's own edit writes over it.
    bool fKeepUnusableProject = false;
    // Each feature builds and wires its own controls in its own file.
    void CreateDeviceControls();
    std::unique_ptr<TzQuadrelLink> fLink;
    TzOutputsModel *fOutputs = nullptr;
    // The features' panels, children of the frame.
    TzPulseWidthPanel *fPulseWidth = nullptr;
    TzSequencePanel *fSequences = nullptr;
    // Wires the link's signals to what shows them.
    void ConnectLink();
    void LoadTemplate();
    // The settings of the connection being attempted, for its success and failure lines.
    void RememberAttempt(int aAddress);
    // Runs a panel button's action after a click, a key or an accessible toggle changed its state.
    void PanelButtonToggled(QPushButton *aButton);

    enum TzDragCommand { DragNone, DragSwitchOff, DragSwitchOn };
    TzDragCommand fDragCommand = DragNone;
    std::bitset<21> fDragDone;

    bool fValuesStale = false;
    // The frame is on the screen: shown, and its window not minimised.
    bool fOnScreen = false;
    // The link's connection the restart's wait belongs to.
    quint64 fRestartConnection = 0;

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
