#pragma once
// TfrQuadrel: the panel frame for one Quadrel module — connection settings, output grid, status
// labels and the module model. Each duty lives in its own source file: construction and layout
// (uQuadrel.cpp, uQuadrelControls.cpp), connection and polling (uQuadrelConnection.cpp), register
// access (uQuadrelRegisters.cpp), the outputs (uQuadrelRelays.cpp), the pulse-width panel
// (uQuadrelShim.cpp), the light sequences (uQuadrelSequences.cpp) and the device settings with
// restart and identifier (uQuadrelDevice.cpp).

#include "model/uGlobals.h"
#include "panel/uDiscretOutParams.h"

#include <QFrame>
#include <QPointer>
#include <QString>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
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
    void StatusSafeCallback(TzTag *aTag);
    void SG_RelaysMouseDown(int aCol, int aRow);
    QString RelayPicture(int aIndex) const;
    QString RelayStateText(int aIndex) const;
    void btnRS485Click(QWidget *Sender);

    // --- writes that reach the module in the order given (uQuadrelOrderedWrites.cpp) ---
    // Forced writes jump the queue one by one, each to the same place near its head, so several
    // queued at once would go out in another order; these are handed over one at a time, the
    // next when the previous one's answer (or failure) is in.
    void SetRegInOrder(int aID, double aValue);
    void SendDOUTInOrder(int aIndex, bool aOn);
    void OrderedWriteAnswered(uint32_t aUID);
    void ClearOrderedWrites();
    int OrderedWritesWaiting() const { return int(fOrderedWrites.size()); }

    // --- pulse-width panel and its duration calculator (uQuadrelShim.cpp) ---
    void ShimAllCallback(TzTag *aTag);
    void btnDOUT1PanClick(int aIndex);
    void btnDOUT_ApplyClick();
    void btnDOUT_DefaultClick();
    void txtShimScaleChange();
    // "Установить": the three parameters from the two entered durations; nothing is written.
    void btnShimSetClick();

    // --- light sequences and the all-outputs commands (uQuadrelSequences.cpp) ---
    void btnSnakeOnClick();
    void SnakeTimerTimer();
    void btnRunnerClick();
    void Runner_TimerTimer();
    void btnAllOnClick(QObject *Sender);
    void SnakeSpeedScrollChange();
    void SnakeSpeedScrollScroll(int aPosition);
    int SnakeStepTime() const;
    // Stops both sequences without a write and drops the ordered writes not yet handed over: on
    // disconnection, restart and close.
    void StopSequences();

    // --- device settings, restart and identifier (uQuadrelDevice.cpp) ---
    void btnRS485_ApplyClick();
    void btnResetClick();
    void ResetBtn_TimerTimer();
    void SetMAC(const QByteArray &aMAC);
    void puMAC_CopyClick();

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
    int SnakePos = 0;
    int SnakePosPrev = 0;
    int RunnerPos = 1;
    int RunnerPosPrev = -1;

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
    QLineEdit *txtTimeout = nullptr;
    QPushButton *btnRS485_Apply = nullptr;
    QLabel *labNeedReset = nullptr;
    QFrame *panMAC = nullptr;
    QLabel *txtMAC = nullptr;
    QMenu *puMAC = nullptr;
    QAction *puMAC_Copy = nullptr;

    QFrame *panDOUT = nullptr;
    QFrame *panShim = nullptr;
    QPushButton *btnDOUT1Pan = nullptr;
    QLineEdit *txtShimScale = nullptr;
    QLineEdit *txtShimPeriod = nullptr;
    QLineEdit *txtShimKoef = nullptr;
    QCheckBox *chkShimSecure = nullptr;
    QPushButton *btnDOUT_Apply = nullptr;
    QPushButton *btnDOUT_Default = nullptr;
    QLineEdit *txtShimOn = nullptr;
    QLineEdit *txtShimOff = nullptr;
    QPushButton *btnShimSet = nullptr;

    QFrame *panSnake = nullptr;
    QLabel *labSnakeCaption = nullptr;
    QLabel *labSnakeSpeed = nullptr;
    QScrollBar *SnakeSpeedScroll = nullptr;
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
    QTimer *Runner_Timer = nullptr;
    QTimer *ResetBtn_Timer = nullptr;

protected:
    void resizeEvent(QResizeEvent *aEvent) override;
    void mousePressEvent(QMouseEvent *aEvent) override;

private:
    // uQuadrelControls.cpp: builds every control with its name, caption, hint and accessible name.
    void CreateControls();
    void ConnectSignals();
    // Each feature builds and wires its own controls in its own file.
    void CreateShimControls();
    void CreateSequenceControls();
    void CreateDeviceControls();
    void SendNextOrderedWrite();

    struct TzOrderedWrite
    {
        int ID = 0;
        double Value = 0;
    };
    std::deque<TzOrderedWrite> fOrderedWrites;
    // The write handed to the engine and not yet answered: its engine and request number.
    const TzFreePort *fOrderedWritePort = nullptr;
    uint32_t fOrderedWriteUID = 0;
};

// A device with the Quadrel's identity at that address, before its template is loaded.
std::unique_ptr<TzDevice> NewQuadrelDevice(int aAddress);

// Registers TfrQuadrel as the frame of ("Quadrel", 100).
void RegisterQuadrelFrame();
