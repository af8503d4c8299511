#pragma once
// TfrQuadrel: the panel frame for one Quadrel module — connection settings, output grid, status
// labels and the module model. Each duty lives in its own source file: construction and layout
// (uQuadrel.cpp, uQuadrelControls.cpp), connection and polling (uQuadrelConnection.cpp), register
// access (uQuadrelRegisters.cpp) and the outputs (uQuadrelRelays.cpp).

#include "model/uGlobals.h"
#include "panel/uDiscretOutParams.h"

#include <QFrame>
#include <QPointer>
#include <QString>

#include <QDateTime>
#include <QElapsedTimer>

#include <array>
#include <bitset>
#include <memory>
#include <mutex>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QWidget;
class TzFreePort;
class TzPictureLabel;
class TzRelayGrid;
struct TzAnswerRec;

// Where a pop-up panel opens next to the button that opened it.
enum TzPanelAlign { alNone, alTop, alBottom, alLeft, alRight };

class TfrQuadrel : public QFrame
{
    Q_OBJECT

public:
    explicit TfrQuadrel(QWidget *AOwner = nullptr);
    ~TfrQuadrel() override;

    // --- construction (uQuadrel.cpp) ---
    void AddOtherQuadrelTags(TzDevice *aDevice);
    void EnumSerialPorts();
    // Puts a port at the top of the list and selects it (the demo's simulated module).
    void AddPortOnTop(const QString &aPortName);
    void CreateShimBtns();
    void CreateNewStyleRelaysGrid();
    void FrameResize();
    void btnHelpClick();
    void FrameClick();
    void AppException(QObject *Sender, const QString &aMessage);
    int MessageBoxNew(QWidget *hWnd, const QString &lpText, const QString &lpCaption, int uType);
    // "COM12" for Windows-style names, otherwise the port's own name ("/dev/ttyUSB0").
    QString PortCaption() const;

    // --- connection and polling (uQuadrelConnection.cpp) ---
    void btnConnectClick();
    void DoConnect();
    void Disconnect();
    void Pulse();
    void PulseCallback(TzTag *aTag);
    void ConnectBtnTimerTimer();
    void LetsDoIt();
    void ModbusAsyncAnswer(const TzAnswerRec &aAnswerRec);
    void AfterFirstUpdate();
    void OprosTimerTimer();
    void InterfaceTimerTimer();
    void cbComPortChange();
    void ConnectPagerChange();
    void FormatToFreePort();
    void ButtonsEnabled(bool aEnabled);
    void ClearLabels(const QString &ClearText);
    void PopupPanel(QWidget *aTarget, QWidget *aPanel, TzPanelAlign aPosition);
    void CloseAllPanel();
    void TryFindPanVisible();
    void Anima(bool aEnabled);
    void AniTimerTimer();
    void ArrowTimerTimer();
    bool IsEthernetPage() const;
    // The values on screen are older than the poll's failure allowance: greyed, with a hint.
    void MarkStale(bool aStale);
    bool ValuesStale() const { return fValuesStale; }
    // The hint of stale values: since when the module has not answered.
    QString StaleHint() const;
    // The register template loaded; without it the panel refuses to connect.
    bool TemplateLoaded() const { return fTemplateLoaded; }

    // --- register access (uQuadrelRegisters.cpp) ---
    bool GetModbusRegRTU(TzTag *aTag);
    bool GetModbusRegRTU2(int aID);
    bool SetModbusRegRTU(TzTag *aTag, double aValue);
    void SetRegByID(int aID, double aValue, bool aForced);
    bool TryValueByID(int aID, int &aValue) const;
    bool TryValueByID(int aID, double &aValue) const;
    static bool CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
    static bool CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
    int PendingAnswers();

    // --- outputs (uQuadrelRelays.cpp) ---
    void SendDOUT(int aIndex, bool aOn);
    void SetDOUT(int aIndex, bool aOn);
    void SetDOUT_Temp(int aIndex);
    void PressRelay(int aIndex);
    // Switches one output on or off on the operator's request (the toggle and the drag).
    void SwitchRelay(int aIndex, bool aOn);
    void StatusSafeCallback(TzTag *aTag);
    void SG_RelaysMouseDown(int aCol, int aRow);
    void SG_RelaysMouseMove(int aCol, int aRow);
    void SG_RelaysMouseUp();
    // The output shown in a grid cell, 0 for cells without one.
    static int OutputOfCell(int aCol, int aRow);
    QString RelayPicture(int aIndex) const;
    QString RelayStateText(int aIndex) const;
    void ShimAllCallback(TzTag *aTag);
    void btnDOUT1PanClick(int aIndex);
    void btnRS485Click(QWidget *Sender);

    // --- state ---
    bool InitMode = false;
    bool SilenceMode = false;
    bool Connected = false;
    int DevAddr = 16;
    int ComPort = 0;
    int BaudRate = 9600;
    std::unique_ptr<TzFreePort> FreePort;
    std::unique_ptr<TzDevice> Device;
    std::unique_ptr<TzDevice> PulseDevice;
    TzTag *PulseTag = nullptr;
    std::mutex LineCS;
    std::vector<std::unique_ptr<TzModbusAnswer>> ModbusAnswerList;
    std::array<TzDiscretOutParams, 21> DOUTs; // 1..20; element 0 unused
    int CurrDoutIndx = 1;
    QPointer<QWidget> CurrPanel;
    bool TableRelaysA_IsOn = false;
    bool TableRelaysB_IsOn = false;
    int AniSlide = 0;
    int AniDirect = 1;
    int ArrowStep = 1;
    bool DoItOnceOnStart = true;
    std::array<int, 10> ModbusErrors{}; // 1..9; element 0 unused
    QString ProjectPath;

    // --- controls, by the names the operator's tools and the tests find them ---
    QPushButton *btnComPort = nullptr;
    QPushButton *btnRS485 = nullptr;
    QPushButton *btnDOUT = nullptr;
    QPushButton *btnReset = nullptr;
    QPushButton *btnConnect = nullptr;
    QPushButton *btnHelp = nullptr;
    QPushButton *btnVerInfo = nullptr;
    QPushButton *btnTempLog = nullptr;
    QPushButton *btnPortObserver = nullptr;
    QPushButton *btnAutorun = nullptr;
    QPushButton *btnAllOn = nullptr;
    QPushButton *btnAllOff = nullptr;
    QPushButton *btnAllOnSlow = nullptr;
    QPushButton *btnAllOffSlow = nullptr;
    QPushButton *btnSnakeOn = nullptr;
    QPushButton *btnRunner = nullptr;

    QLabel *labAddr = nullptr;
    QLabel *labBaudRate = nullptr;
    QLabel *labFormat = nullptr;
    QLabel *labVerPO = nullptr;
    QLabel *labPower1 = nullptr;
    QLabel *labTest = nullptr;
    QLabel *labDate = nullptr;
    QLabel *labTime = nullptr;
    QLabel *labAni = nullptr;
    QLabel *labDOUTS = nullptr;

    TzPictureLabel *imgLogo = nullptr;
    TzPictureLabel *imgHat = nullptr;
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
    QLabel *txtMAC = nullptr;

    QFrame *panDOUT = nullptr;
    QFrame *panShim = nullptr;
    QPushButton *btnDOUT1Pan = nullptr;

    QFrame *panSnake = nullptr;
    QFrame *panProxy = nullptr;
    QComboBox *cbStyles = nullptr;
    QCheckBox *chkRemoteControl = nullptr;

    TzRelayGrid *SG_Relays = nullptr;

    QTimer *ConnectBtnTimer = nullptr;
    QTimer *AniTimer = nullptr;
    QTimer *OprosTimer = nullptr;
    QTimer *InterfaceTimer = nullptr;
    QTimer *ArrowTimer = nullptr;
    QTimer *ProjSaveTimer = nullptr;
    QTimer *SnakeTimer = nullptr;

protected:
    void resizeEvent(QResizeEvent *aEvent) override;
    void mousePressEvent(QMouseEvent *aEvent) override;

private:
    // uQuadrelControls.cpp: builds every control with its name, caption, hint and accessible name.
    void CreateControls();
    void ConnectSignals();
    void LoadTemplate();
    // The settings of the connection being attempted, for its success and failure lines.
    void RememberAttempt(int aAddress);
    // Runs a panel button's action after a click, a key or an accessible toggle changed its state.
    void PanelButtonToggled(QPushButton *aButton);

    enum TzDragCommand { DragNone, DragSwitchOff, DragSwitchOn };
    TzDragCommand fDragCommand = DragNone;
    std::bitset<21> fDragDone;

    bool fTemplateLoaded = false;
    bool fValuesStale = false;
    // When the module last answered (any answer without a transport error).
    QElapsedTimer fLastAnswer;
    QDateTime fLastAnswerTime;

    // What the connection attempt used: module address, port or converter, speed, format.
    int fAttemptAddress = 0;
    QString fAttemptEndpoint;
    QString fAttemptSpeed;
    int fAttemptFormatItem = 0;
    QString fAttemptFormatText;

    // Set while the frame itself changes the panel buttons' pressed state.
    bool fSyncingPanelButtons = false;
};

// The resource the frame loads its register template from (":/" + this name).
extern QString QuadrelTemplateResource;

// How long the poll may fail before the values on screen are marked stale.
inline constexpr int StaleAfterMs = 3000;

// A device with the Quadrel's identity at that address, before its template is loaded.
std::unique_ptr<TzDevice> NewQuadrelDevice(int aAddress);

// Registers TfrQuadrel as the frame of ("Quadrel", 100).
void RegisterQuadrelFrame();
