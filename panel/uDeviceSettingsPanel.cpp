// The "Устройство" panel: the module's network settings and their apply, which also prepares the
// connection page for the next connection (through the window); the restart with its blinking
// reminder; and the identifier panel with its copy command.

#include "panel/uDeviceSettingsPanel.h"

#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "panel/uBlinker.h"
#include "panel/uControlBuilders.h"
#include "panel/uFieldCheck.h"
#include "panel/uPanelHost.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace {

using PanelControls::Combo;
using PanelControls::DigitsEdit;

using namespace QuadrelMap;
constexpr int RestartWaitMs = 1200;
constexpr int ReminderBlinkMs = 350;

const QColor ResetRed(255, 0, 0);
const QColor ResetRedTo(255, 13, 13);

// The module's speed codes in order, from 0 ("1200") on: the list item is the code.
QStringList SpeedItems()
{
    QStringList items;
    for (int code = 0; !BaudRateCodeText(code).isEmpty(); ++code)
        items << BaudRateCodeText(code);
    return items;
}

// The RTU formats in order, from FirstFormatCode on: the item plus FirstFormatCode is the code.
QStringList FormatItems()
{
    QStringList items;
    for (int item = 0; !LineFormatLabel(item).isEmpty(); ++item)
        items << QStringLiteral("MODBUS ") + LineFormatLabel(item);
    return items;
}

} // namespace

TzDeviceSettingsPanel::TzDeviceSettingsPanel(TzPanelHost &aHost, QWidget *aFrame) : QObject(aFrame), fHost(aHost)
{
    setObjectName(QStringLiteral("DeviceSettings"));
    CreateControls(aFrame);

    connect(fApply, &QPushButton::clicked, this, &TzDeviceSettingsPanel::ApplyClick);
    connect(fTimeout, &QLineEdit::returnPressed, this, &TzDeviceSettingsPanel::ApplyClick);
    connect(fResetButton, &QPushButton::clicked, this, &TzDeviceSettingsPanel::ResetClick);
    connect(fReminderTimer, &QTimer::timeout, this, &TzDeviceSettingsPanel::ResetReminderBlink);
    connect(fRestartWait, &QTimer::timeout, this, &TzDeviceSettingsPanel::RestartWaitEnded);
    connect(fCopyIdentifier, &QAction::triggered, this, &TzDeviceSettingsPanel::CopyIdentifier);
    connect(&fHost.HostLink(), &TzQuadrelLink::FirstCycleDone, this, &TzDeviceSettingsPanel::ShowModule);
}

void TzDeviceSettingsPanel::CreateControls(QWidget *aFrame)
{
    fResetButton = new QPushButton(QStringLiteral("Перезагрузить"), aFrame);
    fResetButton->setObjectName(QStringLiteral("btnReset"));
    fResetButton->setGeometry(8, 104, 200, 28);

    fPanel = PanelControls::PopupFrame(aFrame, "panRS485", QSize(300, 200));
    auto *form = new QFormLayout(fPanel);
    form->addRow(new QLabel(QStringLiteral("Устройство"), fPanel));
    fAddress = DigitsEdit(fPanel, "txtAddr", QStringLiteral("16"), QString(), 6);
    fAddress->setAccessibleName(QStringLiteral("Адрес прибора"));
    fAddress->setToolTip(QStringLiteral("Адрес прибора\r\nДиапазон: 1..247"));
    form->addRow(QStringLiteral("Адрес:"), fAddress);
    fSpeed = Combo(fPanel, "cbBaudRate", SpeedItems(), 3, QStringLiteral("Скорость обмена"));
    form->addRow(QStringLiteral("Скорость:"), fSpeed);
    fFormat = Combo(fPanel, "cbFormat", FormatItems(), 0, QStringLiteral("Формат символа"));
    form->addRow(QStringLiteral("Формат:"), fFormat);
    fTimeout = DigitsEdit(fPanel, "txtTimeout", QStringLiteral("0"), QString(), 4);
    fTimeout->setToolTip(QStringLiteral("Сетевой тайм-аут в секундах\r\nДиапазон: 0..600"));
    fTimeout->setAccessibleName(QStringLiteral("Сетевой тайм-аут"));
    auto *timeoutRow = new QHBoxLayout;
    timeoutRow->addWidget(fTimeout, 1);
    timeoutRow->addWidget(new QLabel(QStringLiteral("сек"), fPanel));
    auto *timeoutLabel = new QLabel(QStringLiteral("&Тайм-аут:"), fPanel);
    timeoutLabel->setBuddy(fTimeout);
    form->addRow(timeoutLabel, timeoutRow);
    fApply = new QPushButton(QStringLiteral("Применить"), fPanel);
    fApply->setObjectName(QStringLiteral("btnRS485_Apply"));
    auto *applyRow = new QHBoxLayout;
    applyRow->addWidget(fApply, 1);
    applyRow->addWidget(new TzPictureLabel(QStringLiteral("imgRS485ApplyHint"), QStringLiteral("info"),
                                           QStringLiteral("Настройки будут применены после перезапуска устройства"),
                                           fPanel));
    form->addRow(applyRow);

    // The reminder that the settings written take effect only after a restart.
    fNeedReset = new QLabel(QStringLiteral("!"), aFrame);
    fNeedReset->setObjectName(QStringLiteral("labNeedReset"));
    fNeedReset->setToolTip(QStringLiteral("Требуется перезагрузка"));
    fNeedReset->setAccessibleName(QStringLiteral("Требуется перезагрузка"));
    fNeedReset->setGeometry(fResetButton->x() + fResetButton->width() + 2, fResetButton->y(), 10,
                            fResetButton->height());
    fNeedReset->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;"));
    fNeedReset->hide();
    fReminderTimer = new QTimer(this);
    fReminderTimer->setObjectName(QStringLiteral("ResetBtn_Timer"));
    fReminderTimer->setInterval(ReminderBlinkMs);
    fRestartWait = new QTimer(this);
    fRestartWait->setObjectName(QStringLiteral("RestartWait_Timer"));
    fRestartWait->setSingleShot(true);
    // The module needs the whole time: a coarse timer may fire up to 5 % early.
    fRestartWait->setTimerType(Qt::PreciseTimer);
    fRestartWait->setInterval(RestartWaitMs);

    // The identifier, with its one-item menu (mouse: right button; keyboard: the menu key or
    // Ctrl+C once the identifier has the focus).
    fIdentifierPanel = new QFrame(aFrame);
    fIdentifierPanel->setObjectName(QStringLiteral("panMAC"));
    fIdentifierPanel->setFrameShape(QFrame::StyledPanel);
    fIdentifierPanel->setGeometry(420, 140, 190, 24);
    auto *macRow = new QHBoxLayout(fIdentifierPanel);
    macRow->setContentsMargins(4, 0, 4, 0);
    auto *macCaption = new QLabel(QStringLiteral("ID:"), fIdentifierPanel);
    fIdentifier = new QLabel(QStringLiteral("AA-BB-CC-DD-EE-FF"), fIdentifierPanel);
    fIdentifier->setObjectName(QStringLiteral("txtMAC"));
    fIdentifier->setAccessibleName(QStringLiteral("Идентификатор"));
    fIdentifier->setFocusPolicy(Qt::StrongFocus);
    macCaption->setBuddy(fIdentifier);
    macRow->addWidget(macCaption);
    macRow->addWidget(fIdentifier, 1);
    fIdentifierMenu = new QMenu(fIdentifierPanel);
    fIdentifierMenu->setObjectName(QStringLiteral("puMAC"));
    fCopyIdentifier = fIdentifierMenu->addAction(QStringLiteral("Скопировать ID"));
    fCopyIdentifier->setObjectName(QStringLiteral("puMAC_Copy"));
    fCopyIdentifier->setShortcut(QKeySequence::Copy);
    fCopyIdentifier->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    fIdentifierPanel->addAction(fCopyIdentifier);
    for (QWidget *owner : {static_cast<QWidget *>(fIdentifierPanel), static_cast<QWidget *>(fIdentifier)}) {
        owner->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(owner, &QWidget::customContextMenuRequested, this,
                [this, owner](const QPoint &aAt) { fIdentifierMenu->popup(owner->mapToGlobal(aAt)); });
    }
    MarkValueLabel(fIdentifier, QStringLiteral("Идентификатор"));
}

QString TzDeviceSettingsPanel::Identifier() const
{
    return fIdentifier->text();
}

void TzDeviceSettingsPanel::ShowModule()
{
    // The answers of a first cycle cut short by a disconnect still arrive, as failures; they must
    // not fill the panel of an idle window.
    if (!fHost.HostConnected())
        return;
    const TzQuadrelLink &link = fHost.HostLink();
    int word1 = 0, word2 = 0, word3 = 0;
    if (link.TryValueByID(RegIdentifier1, word1) && link.TryValueByID(RegIdentifier2, word2)
        && link.TryValueByID(RegIdentifier3, word3)) {
        QByteArray identifier;
        for (const int word : {word1, word2, word3})
            identifier.append(char((word >> 8) & 0xFF)).append(char(word & 0xFF));
        SetMAC(identifier);
    }
    int value = 0;
    if (link.TryValueByID(RegAddress, value))
        fAddress->setText(QString::number(value));
    if (link.TryValueByID(RegSpeed, value))
        fSpeed->setCurrentIndex(value >= 0 && value < fSpeed->count() ? value : -1);
    if (link.TryValueByID(RegFormat, value))
        fFormat->setCurrentIndex(
            value >= FirstFormatCode && value < FirstFormatCode + fFormat->count() ? value - FirstFormatCode : -1);
}

void TzDeviceSettingsPanel::ApplyClick()
{
    if (!fHost.HostConnected())
        return;
    TempLogAdd(QString(), LogNavy);

    // The module refuses values outside its ranges; nothing is copied or written for them, so the
    // connection page never takes an address the module will not have.
    int address = 0, timeout = 0;
    if (!CheckBlinkEditInt(fAddress, address, 1, 247) || !CheckBlinkEditInt(fTimeout, timeout, 0, 600))
        return;
    // A speed or format the list does not hold (a module in an ASCII mode reports one) is not
    // written as some other code: the operator picks one first.
    for (QComboBox *combo : {fSpeed, fFormat})
        if (combo->currentIndex() < 0) {
            BlinkEdit(combo);
            return;
        }
    const int speedCode = fSpeed->currentIndex();
    const int formatItem = fFormat->currentIndex();

    // The next connection goes out with the new settings, over either page.
    emit SettingsApplied(address, speedCode, formatItem);

    fHost.CloseAllPanel();
    fReminderTimer->start();
    fNeedReset->show();
    fResetButton->setAccessibleDescription(QStringLiteral("Требуется перезагрузка"));

    TzQuadrelLink &link = fHost.HostLink();
    link.SetRegInOrder(RegAddress, address);
    link.SetRegInOrder(RegSpeed, speedCode);
    link.SetRegInOrder(RegFormat, FirstFormatCode + formatItem);
    link.SetRegInOrder(RegTimeout, timeout);
}

void TzDeviceSettingsPanel::ResetReminderBlink()
{
    QPalette palette = fResetButton->palette();
    if (palette.color(QPalette::Button) == ResetRed) {
        fResetButton->setPalette(QPalette());
    } else {
        palette.setColor(QPalette::Button, ResetRed);
        palette.setColor(QPalette::Light, ResetRedTo);
        palette.setColor(QPalette::Midlight, ResetRedTo);
        fResetButton->setPalette(palette);
    }
}

void TzDeviceSettingsPanel::ResetClick()
{
    TzQuadrelLink &link = fHost.HostLink();
    link.StopPoll();
    fNeedReset->hide();
    fReminderTimer->stop();
    fResetButton->setPalette(QPalette());
    fResetButton->setAccessibleDescription(QString());
    emit RestartBegins(); // also drops ordered writes not yet handed over
    link.ClearRequests();
    // Identical frames still queued are refused, so one command normally goes out.
    for (int i = 0; i < 3; ++i)
        link.SetRegByID(RegCommand, RestartCommand, true);
    // No second restart while this one is under way.
    fResetButton->setEnabled(false);

    // The module restarts meanwhile; the restart's echo, the timers and the operator's clicks are
    // handled as usual. The end of the wait belongs to this connection only.
    fRestartConnection = link.ConnectionSerial();
    fRestartWait->start();
}

void TzDeviceSettingsPanel::RestartWaitEnded()
{
    // A disconnect during the wait ended the restart's connection for good, and a connection
    // made since is not the restarting module's: neither is touched.
    if (!fHost.HostConnected() || fRestartConnection != fHost.HostLink().ConnectionSerial())
        return;
    emit RestartWaitOver();
}

void TzDeviceSettingsPanel::SetMAC(const QByteArray &aMAC)
{
    if (aMAC.size() != 6)
        return;
    QStringList bytes;
    for (const char byte : aMAC)
        bytes << QStringLiteral("%1").arg(uint8_t(byte), 2, 16, QLatin1Char('0')).toUpper();
    fIdentifier->setText(bytes.join(u'-'));
}

void TzDeviceSettingsPanel::CopyIdentifier()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(fIdentifier->text());
}
