// Construction, teardown and layout of the panel frame, and its frame-wide services (exception
// and message-box handling, the port list).

#include "panel/uQuadrel.h"

#include "common/uAppException.h"
#include "common/uUtils.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uTempLog.h"
#include "diagnostics/uVerInfo.h"
#include "journal/uJournal.h"
#include "journal/uJournalWriter.h"
#include "link/uQuadrelLink.h"
#include "panel/uAutorunPanel.h"
#include "panel/uDeviceSettingsPanel.h"
#include "panel/uFrameGlob.h"
#include "panel/uJournalWindow.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelOptions.h"
#include "panel/uPictureLabel.h"
#include "panel/uProjectKeeper.h"
#include "panel/uPulseWidthPanel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSearchPanel.h"
#include "panel/uSequencePanel.h"
#include "panel/uSettingsFaults.h"
#include "panel/uWebBridgePanel.h"
#include "port/uFreePort.h"
#include "settings/uSettingsPlace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTabWidget>
#include <QTimer>

TfrQuadrel::TfrQuadrel(QWidget *AOwner) : QFrame(AOwner)
{
    InitMode = true;
    setObjectName(QStringLiteral("TfrQuadrel"));
    fLink = std::make_unique<TzQuadrelLink>();
    fOutputs = new TzOutputsModel(this);
    ConnectLink();
    StartJournal();
    InstallPictureAccessibility();
    CreateControls();
    CreateSettingsKeepers();
    // The command buttons wait for the first complete poll cycle, from the very first frame shown.
    ButtonsEnabled(false);

    SetAppExceptionHandler([this](QObject *aSender, const QString &aMessage) { AppException(aSender, aMessage); });

    Connected = false;
    AniSlide = 0;
    AniDirect = 1;
    ArrowStep = 1;
    TableRelaysA_IsOn = false;
    TableRelaysB_IsOn = false;
    DoItOnceOnStart = true;

    imgHat->setVisible(IsNewYearSeason());

    ConnectPager->setCurrentWidget(PageConnCOM);
    EnumSerialPorts();
    ClearLabels(QStringLiteral("..."));
    fOptions->Load();
    SilenceMode = fAutorun->SilentStart();
    cbComPortChange();

    CreateNewStyleRelaysGrid();

    LoadTemplate();
    fWebBridge = new TzWebBridgePanel(
        *this, this, cbStyles, [this] { return fDeviceSettings->Identifier(); },
        [this](int aIndex) { return fOutputs->Output(aIndex).IsOn(); });
    LoadHTTPOptions();
    fProject->Load(fProject->Path());

    cbComPortChange();
    ConnectSignals();
    InterfaceTimer->start();
    UpdateArrow();
    FitButtonCaptions();
    InitMode = false;
    fSettingsFaults->ShowStartNotes(this, SilenceMode);
}

void TfrQuadrel::CreateSettingsKeepers()
{
    fSettingsFaults = std::make_unique<TzSettingsFaults>();
    fAutorun = new TzAutorunPanel(*this, btnAutorun, cbStyles, this);
    connect(fAutorun, &TzAutorunPanel::Changed, this, &TfrQuadrel::SaveOptions);
    connect(fAutorun, &TzAutorunPanel::AutostartDue, this, [this] {
        if (!Connected)
            DoConnect();
    });
    fOptions = new TzPanelOptions(ConnectionPage(), *fAutorun, *fSettingsFaults, this);
    fProject = new TzProjectKeeper(SG_Relays, *fSettingsFaults, this);
}

bool TfrQuadrel::StartMinimised() const
{
    return SilenceMode && fAutorun->Settings().Mini;
}

void TfrQuadrel::SaveHTTPOptions()
{
    const TzWebBridgeSettings bridge = fWebBridge->Settings();
    TzHttpOptions options;
    options.ProxyEnabled = bridge.ProxyUse;
    options.ProxyBasic = bridge.ProxyNeedPass;
    options.Server = bridge.ProxyServer;
    options.Port = bridge.ProxyPort;
    options.User = bridge.ProxyUser;
    options.Pass = bridge.ProxyPass;
    options.Key = bridge.AuthKey;
    options.Base = bridge.Base;
    fOptions->SaveHttp(options);
}

void TfrQuadrel::LoadHTTPOptions()
{
    TzStoredHttpOptions stored;
    const TzOptionsRead state = fOptions->ReadHttp(stored);
    TzWebBridgeSettings bridge = fWebBridge->Settings();
    if (state == TzOptionsRead::Missing && bridge.AuthKey.isEmpty()) {
        // No web-bridge settings stored yet: the bridge still gets a key of its own. It is
        // written at once into an existing options file; a first start writes no file until the
        // operator saves something.
        bridge.AuthKey = GenerateAccessKey(6);
        fWebBridge->SetSettings(bridge);
        if (fOptions->FileExists())
            SaveHTTPOptions();
        return;
    }
    if (state != TzOptionsRead::Valid)
        return;
    if (stored.Base) {
        bridge.Base = stored.Base;
        fWebBridge->SetHttpBase(*stored.Base);
    }
    if (stored.Enabled)
        bridge.ProxyUse = *stored.Enabled != 0;
    if (stored.Basic)
        bridge.ProxyNeedPass = *stored.Basic != 0;
    if (stored.Server)
        bridge.ProxyServer = *stored.Server;
    if (stored.Port)
        bridge.ProxyPort = QString::number(*stored.Port);
    if (stored.User)
        bridge.ProxyUser = *stored.User;
    if (stored.Pass)
        bridge.ProxyPass = *stored.Pass;
    bridge.AuthKey = stored.Key ? *stored.Key : GenerateAccessKey(6);
    fWebBridge->SetSettings(bridge);
    if (!stored.Key)
        SaveHTTPOptions();
}

void TfrQuadrel::LoadTemplate()
{
    QString exception;
    if (fLink->LoadTemplate(DevAddr, &exception))
        return;
    if (!exception.isEmpty()) {
        // A missing or unreadable template is reported like any other error; the rest of the frame is
        // still built, so the operator keeps a working window and a usable options file.
        AppException(this, exception);
        return;
    }
    TempLogAdd(QStringLiteral("Ошибка загрузки таблицы регистров"), LogNavy);
    if (!SilenceMode)
        MessageBoxNew(this,
                      QStringLiteral("Ошибка загрузки таблицы регистров\r\nПродолжение работы не "
                                     "рекомендуется\r\nОбратитесь к разработчикам"),
                      QStringLiteral("Уведомление"), 0x30);
}

TfrQuadrel::~TfrQuadrel()
{
    // The search first: its engine ends, and no outcome reaches the controls being destroyed.
    delete fSearch;
    fSearch = nullptr;
    InterfaceTimer->stop();
    // Nothing of the autorun panel (its autostart timer included) reaches a window being closed.
    fAutorun->disconnect(this);
    fProject->SaveAtClose();
    // A running sequence leaves nothing queued behind it.
    StopSequences();
    // The grid goes before the outputs' model it shows, which is destroyed with the frame's
    // other children.
    delete SG_Relays;
    SG_Relays = nullptr;
    // The journal hands its last rows to the writer, which writes them before its thread ends;
    // both go before the link they listen to.
    fJournalWindow.reset();
    fJournal.reset();
    fJournalWriter.reset();
    // The link closes its engine and tells nothing more to a frame being destroyed.
    fLink->disconnect(this);
    fLink->disconnect(fDeviceSettings);
    fLink.reset();
    SetAppExceptionHandler(nullptr);
}

void TfrQuadrel::StartJournal()
{
    fJournalWriter = std::make_unique<TzJournalWriter>(SettingsFolder());
    connect(fJournalWriter.get(), &TzJournalWriter::Note, this,
            [](const QString &aText) { TempLogAdd(aText, LogMaroon); });
    connect(fJournalWriter.get(), &TzJournalWriter::Problem, this,
            [](const QString &aText) { TempLogAdd(aText, LogMaroon); });
    connect(fJournalWriter.get(), &TzJournalWriter::Resumed, this,
            [] { TempLogAdd(QStringLiteral("Журнал снова записывается"), LogNavy); });
    TzJournalWriter *writer = fJournalWriter.get();
    fJournal = std::make_unique<TzJournal>(*fLink, [writer](TzJournalBatch aBatch) { writer->Append(aBatch); });
}

TfrmJournal *TfrQuadrel::ShowJournal()
{
    if (!fJournalWindow)
        fJournalWindow = std::make_unique<TfrmJournal>(*fJournalWriter);
    fJournalWindow->setAttribute(Qt::WA_QuitOnClose, false);
    fJournalWindow->show();
    fJournalWindow->raise();
    fJournalWindow->activateWindow();
    return fJournalWindow.get();
}

void TfrQuadrel::EnumSerialPorts()
{
    const QSignalBlocker quiet(cbComPort);
    cbComPort->clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        cbComPort->addItem(info.portName());
#else
        cbComPort->addItem(info.systemLocation());
#endif
    }
    if (cbComPort->count() == 0) {
        for (int n = 1; n <= 255; ++n) {
#ifdef Q_OS_WIN
            cbComPort->addItem(QStringLiteral("COM%1").arg(n));
#else
            cbComPort->addItem(QStringLiteral("/dev/ttyS%1").arg(n - 1));
#endif
        }
    }
    cbComPort->setCurrentIndex(0);
    // The list was filled with its signals held back: the port now selected is taken over here,
    // or the next connection would open it under the number of the port selected before.
    cbComPortChange();
}

void TfrQuadrel::AddPortOnTop(const QString &aPortName)
{
    const int existing = cbComPort->findText(aPortName);
    if (existing >= 0)
        cbComPort->removeItem(existing);
    cbComPort->insertItem(0, aPortName);
    cbComPort->setCurrentIndex(0);
}

QString TfrQuadrel::PortCaption() const
{
    return ConnectionPage().PortCaption();
}

void TfrQuadrel::CreateNewStyleRelaysGrid()
{
    SG_Relays->OnCellPress = [this](int aCol, int aRow) { SG_RelaysMouseDown(aCol, aRow); };
    SG_Relays->OnCellDrag = [this](int aCol, int aRow) { SG_RelaysMouseMove(aCol, aRow); };
    SG_Relays->OnDragEnd = [this] { SG_RelaysMouseUp(); };
    connect(fOutputs, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &aTopLeft) {
        if (aTopLeft.column() == TzOutputsModel::ColDescription && !InitMode)
            fProject->DescriptionEdited();
    });
    FrameResize();
}

void TfrQuadrel::FrameResize()
{
    const int right = width() - 1;
    imgLogo->move(right - imgLogo->width(), -8);
    imgHat->move(imgLogo->x() - 4, imgLogo->y() + 2);
    int top = imgLogo->y() + imgLogo->height();
    for (QPushButton *button : {btnHelp, btnVerInfo, btnTempLog}) {
        button->move(right - button->width(), top);
        top += button->height() + 5;
    }
    const int gridTop = labDOUTS->y() + labDOUTS->height() + 2;
    SG_Relays->setGeometry(8, gridTop, std::max(100, width() - 16), std::max(100, height() - gridTop - 8));
    fSequences->Panel()->raise();
    labDOUTS->setGeometry(SG_Relays->x(), labDOUTS->y(), SG_Relays->width(), labDOUTS->height());
}

void TfrQuadrel::resizeEvent(QResizeEvent *aEvent)
{
    QFrame::resizeEvent(aEvent);
    FrameResize();
}

// Shown and hidden by the program, or by the window system when the window is minimised and
// restored (then the frame stays "visible" to Qt, so a flag of its own tells).
void TfrQuadrel::showEvent(QShowEvent *aEvent)
{
    QFrame::showEvent(aEvent);
    fOnScreen = true;
    UpdateArrow();
}

void TfrQuadrel::hideEvent(QHideEvent *aEvent)
{
    QFrame::hideEvent(aEvent);
    fOnScreen = false;
    UpdateArrow();
}

// Each press of the observer button opens one more window over the panel, captioned after the
// line the panel is connected through.
void TfrQuadrel::btnPortObserverClick()
{
    TfrmPortObserver *observer = CreatePortObserver(this);
    observer->SetComPort(ComPort);
    if (fLink->ByEthernet())
        observer->SetLineName(QStringLiteral("%1:%2").arg(EthernetHost).arg(EthernetPort));
    else
        observer->SetLineName(PortCaption());
    const QWidget *main = window();
    observer->move(main->x() + width() / 2 - observer->width() / 2, main->y() + height() / 2 - observer->height() / 2);
    observer->show();
}

void TfrQuadrel::btnHelpClick()
{
    // Through the same rule as every dialog: a silent (autorun) start gets a log line instead.
    MessageBoxNew(this, QStringLiteral("Справка находится в процессе разработки ") + QChar(0x263A),
                  QStringLiteral("Уведомление"), 0x40);
}

void TfrQuadrel::ConnectAsClicked()
{
    btnConnect->click();
}

void TfrQuadrel::FrameClick()
{
    CloseAllPanel();
}

void TfrQuadrel::mousePressEvent(QMouseEvent *aEvent)
{
    // Presses that children leave unhandled (captions, pictures, a panel's empty space) travel up
    // to here; only one on the frame's own bare surface closes the pop-up panels.
    if (aEvent->button() == Qt::LeftButton && !childAt(aEvent->position().toPoint()))
        FrameClick();
    QFrame::mousePressEvent(aEvent);
}

void TfrQuadrel::AppException(QObject *, const QString &aMessage)
{
    TempLogAdd(QStringLiteral("Ошибка: ") + aMessage, LogNavy);
}

int TfrQuadrel::MessageBoxNew(QWidget *hWnd, const QString &lpText, const QString &lpCaption, int uType)
{
    if (SilenceMode) {
        TempLogAdd(lpText, LogNavy);
        return 0;
    }
    // The Win32 icon bits of uType: 0x10 stop, 0x20 question, 0x30 warning, 0x40 information.
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (uType & 0xF0) {
    case 0x10: icon = QMessageBox::Critical; break;
    case 0x20: icon = QMessageBox::Question; break;
    case 0x30: icon = QMessageBox::Warning; break;
    case 0x40: icon = QMessageBox::Information; break;
    default: break;
    }
    QMessageBox box(icon, lpCaption, lpText, QMessageBox::Ok, hWnd ? hWnd : this);
    box.setObjectName(QStringLiteral("MessageBoxNew"));
    return box.exec() == QMessageBox::Ok ? 1 : 0;
}

void TfrQuadrel::btnRS485Click(QWidget *Sender)
{
    if (Sender == btnComPort) {
        PopupPanel(btnComPort, panComPort, alRight);
        fSearch->ShowResultsIfAny();
    } else if (Sender == btnRS485) {
        PopupPanel(btnRS485, fDeviceSettings->Panel(), alRight);
    } else if (Sender == btnDOUT) {
        fPulseWidth->Open(btnComPort);
    }
    fPulseWidth->Calculator()->setVisible(fPulseWidth->Panel()->isVisible());
    fWebBridge->ProxyPanel()->hide();
    const bool wasSyncing = fSyncingPanelButtons;
    fSyncingPanelButtons = true;
    for (QPushButton *button : {btnComPort, btnRS485, btnDOUT})
        button->setChecked(CurrPanel && CurrPanel->isVisible()
                           && ((button == btnComPort && CurrPanel == panComPort)
                               || (button == btnRS485 && CurrPanel == fDeviceSettings->Panel())
                               || (button == btnDOUT && CurrPanel == fPulseWidth->Panel())));
    fSyncingPanelButtons = wasSyncing;
}

void TfrQuadrel::PanelButtonToggled(QPushButton *aButton)
{
    if (!fSyncingPanelButtons)
        btnRS485Click(aButton);
}

void TfrQuadrel::ConnectSignals()
{
    connect(btnConnect, &QPushButton::clicked, this, &TfrQuadrel::btnConnectClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrQuadrel::btnHelpClick);
    // A mouse click, Space, and an accessible toggle all change the pressed state; that change
    // opens or closes the panel.
    for (QPushButton *button : {btnComPort, btnRS485, btnDOUT})
        connect(button, &QPushButton::toggled, this, [this, button] { PanelButtonToggled(button); });
    connect(btnTempLog, &QPushButton::clicked, this, [] {
        if (TfrmTempLog *log = TempLogWindow())
            log->setVisible(!log->isVisible());
    });
    connect(btnVerInfo, &QPushButton::clicked, this, [] {
        if (TfrmVerInfo *versions = VerInfoWindow())
            versions->setVisible(!versions->isVisible());
    });
    connect(btnPortObserver, &QPushButton::clicked, this, &TfrQuadrel::btnPortObserverClick);
    connect(fDeviceSettings, &TzDeviceSettingsPanel::SettingsApplied, this, &TfrQuadrel::TakeDeviceSettings);
    // A restart stops the sequences and drops the ordered writes not yet handed over.
    connect(fDeviceSettings, &TzDeviceSettingsPanel::RestartBegins, this, &TfrQuadrel::StopSequences);
    connect(fDeviceSettings, &TzDeviceSettingsPanel::RestartWaitOver, this, &TfrQuadrel::LetGoAfterRestart);
    connect(fWebBridge, &TzWebBridgePanel::SaveRequested, this, &TfrQuadrel::SaveHTTPOptions);
    connect(fWebBridge, &TzWebBridgePanel::ReloadRequested, this, &TfrQuadrel::LoadHTTPOptions);
    connect(imgRefreshPortList, &TzPictureLabel::clicked, this, &TfrQuadrel::EnumSerialPorts);

    connect(AniTimer, &QTimer::timeout, this, &TfrQuadrel::AniTimerTimer);
    connect(InterfaceTimer, &QTimer::timeout, this, &TfrQuadrel::InterfaceTimerTimer);
    connect(ArrowTimer, &QTimer::timeout, this, &TfrQuadrel::ArrowTimerTimer);

    for (QComboBox *combo : {cbComPort, cbLineBaudRate, cbLineFormat, cbLineFormatEth})
        connect(combo, &QComboBox::currentIndexChanged, this, &TfrQuadrel::cbComPortChange);
    connect(cbComPort, &QComboBox::editTextChanged, this, &TfrQuadrel::cbComPortChange);
    for (QLineEdit *edit :
         {txtLineAddr, txtLineTimeout, txtEthernetAddr, txtEthernetPort, txtEthernetTimeout, txtLineAddrEth})
        connect(edit, &QLineEdit::textChanged, this, &TfrQuadrel::cbComPortChange);
    connect(ConnectPager, &QTabWidget::currentChanged, this, &TfrQuadrel::ConnectPagerChange);
}

void RegisterQuadrelFrame()
{
    RegisterFrameClass(QStringLiteral("TfrQuadrel"), [](QWidget *aOwner) { return new TfrQuadrel(aOwner); });
    RegisterDevFrame(QStringLiteral("Quadrel"), 100, QStringLiteral("TfrQuadrel"));
}
