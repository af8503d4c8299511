// The "Устройство" page: the module's network settings and their apply, which also prepares the
// connection page for the next connection; the restart with its blinking reminder; and the
// identifier panel with its copy command.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "panel/uBlinker.h"
#include "panel/uPictureLabel.h"

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
#include <QRegularExpressionValidator>
#include <QTimer>

namespace {

using namespace QuadrelMap;
constexpr uint32_t RestartWaitMs = 1200;

const QColor ResetRed(255, 0, 0);
const QColor ResetRedTo(255, 13, 13);

} // namespace

void TfrQuadrel::CreateDeviceControls()
{
    panRS485->resize(300, 200);
    auto *form = qobject_cast<QFormLayout *>(panRS485->layout());
    txtTimeout = new QLineEdit(QStringLiteral("0"), panRS485);
    txtTimeout->setObjectName(QStringLiteral("txtTimeout"));
    txtTimeout->setMaxLength(4);
    txtTimeout->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), txtTimeout));
    txtTimeout->setToolTip(QStringLiteral("Сетевой тайм-аут в секундах\r\nДиапазон: 0..600"));
    txtTimeout->setAccessibleName(QStringLiteral("Сетевой тайм-аут"));
    auto *timeoutRow = new QHBoxLayout;
    timeoutRow->addWidget(txtTimeout, 1);
    timeoutRow->addWidget(new QLabel(QStringLiteral("сек"), panRS485));
    btnRS485_Apply = new QPushButton(QStringLiteral("Применить"), panRS485);
    btnRS485_Apply->setObjectName(QStringLiteral("btnRS485_Apply"));
    auto *applyRow = new QHBoxLayout;
    applyRow->addWidget(btnRS485_Apply, 1);
    applyRow->addWidget(new TzPictureLabel(QStringLiteral("imgRS485ApplyHint"), QStringLiteral("info"),
                                           QStringLiteral("Настройки будут применены после перезапуска устройства"),
                                           panRS485));
    if (form) {
        auto *timeoutLabel = new QLabel(QStringLiteral("&Тайм-аут:"), panRS485);
        timeoutLabel->setBuddy(txtTimeout);
        form->addRow(timeoutLabel, timeoutRow);
        form->addRow(applyRow);
    }

    labNeedReset = new QLabel(QStringLiteral("!"), this);
    labNeedReset->setObjectName(QStringLiteral("labNeedReset"));
    labNeedReset->setToolTip(QStringLiteral("Требуется перезагрузка"));
    labNeedReset->setAccessibleName(QStringLiteral("Требуется перезагрузка"));
    labNeedReset->setGeometry(btnReset->x() + btnReset->width() + 2, btnReset->y(), 10, btnReset->height());
    labNeedReset->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0); font-weight: bold;"));
    labNeedReset->hide();
    ResetBtn_Timer = new QTimer(this);
    ResetBtn_Timer->setObjectName(QStringLiteral("ResetBtn_Timer"));
    ResetBtn_Timer->setInterval(350);
    RestartWait_Timer = new QTimer(this);
    RestartWait_Timer->setObjectName(QStringLiteral("RestartWait_Timer"));
    RestartWait_Timer->setSingleShot(true);
    // The module needs the whole time: a coarse timer may fire up to 5 % early.
    RestartWait_Timer->setTimerType(Qt::PreciseTimer);
    RestartWait_Timer->setInterval(RestartWaitMs);

    // The identifier, with its one-item menu (mouse: right button; keyboard: the menu key or
    // Ctrl+C once the identifier has the focus).
    panMAC = new QFrame(this);
    panMAC->setObjectName(QStringLiteral("panMAC"));
    panMAC->setFrameShape(QFrame::StyledPanel);
    panMAC->setGeometry(420, 140, 190, 24);
    auto *macRow = new QHBoxLayout(panMAC);
    macRow->setContentsMargins(4, 0, 4, 0);
    auto *macCaption = new QLabel(QStringLiteral("ID:"), panMAC);
    txtMAC = new QLabel(QStringLiteral("AA-BB-CC-DD-EE-FF"), panMAC);
    txtMAC->setObjectName(QStringLiteral("txtMAC"));
    txtMAC->setAccessibleName(QStringLiteral("Идентификатор"));
    txtMAC->setFocusPolicy(Qt::StrongFocus);
    macCaption->setBuddy(txtMAC);
    macRow->addWidget(macCaption);
    macRow->addWidget(txtMAC, 1);
    puMAC = new QMenu(panMAC);
    puMAC->setObjectName(QStringLiteral("puMAC"));
    puMAC_Copy = puMAC->addAction(QStringLiteral("Скопировать ID"));
    puMAC_Copy->setObjectName(QStringLiteral("puMAC_Copy"));
    puMAC_Copy->setShortcut(QKeySequence::Copy);
    puMAC_Copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    panMAC->addAction(puMAC_Copy);
    for (QWidget *owner : {static_cast<QWidget *>(panMAC), static_cast<QWidget *>(txtMAC)}) {
        owner->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(owner, &QWidget::customContextMenuRequested, this,
                [this, owner](const QPoint &aAt) { puMAC->popup(owner->mapToGlobal(aAt)); });
    }

    connect(btnRS485_Apply, &QPushButton::clicked, this, &TfrQuadrel::btnRS485_ApplyClick);
    connect(txtTimeout, &QLineEdit::returnPressed, this, &TfrQuadrel::btnRS485_ApplyClick);
    connect(btnReset, &QPushButton::clicked, this, &TfrQuadrel::btnResetClick);
    connect(ResetBtn_Timer, &QTimer::timeout, this, &TfrQuadrel::ResetBtn_TimerTimer);
    connect(RestartWait_Timer, &QTimer::timeout, this, &TfrQuadrel::RestartWaitEnded);
    connect(puMAC_Copy, &QAction::triggered, this, &TfrQuadrel::puMAC_CopyClick);
}

void TfrQuadrel::btnRS485_ApplyClick()
{
    if (!Connected)
        return;
    TempLogAdd(QString(), LogNavy);

    // The module refuses values outside its ranges; nothing is copied or written for them, so the
    // connection page never takes an address the module will not have.
    int address = 0, timeout = 0;
    if (!CheckBlinkEditInt(txtAddr, address, 1, 247) || !CheckBlinkEditInt(txtTimeout, timeout, 0, 600))
        return;
    // A speed or format the list does not hold (a module in an ASCII mode reports one) is not
    // written as some other code: the operator picks one first.
    for (QComboBox *combo : {cbBaudRate, cbFormat})
        if (combo->currentIndex() < 0) {
            BlinkEdit(combo);
            return;
        }
    const int speedCode = cbBaudRate->currentIndex();
    const int formatItem = cbFormat->currentIndex();

    // The next connection goes out with the new settings, over either page.
    txtLineAddr->setText(QString::number(address));
    cbLineBaudRate->setCurrentIndex(speedCode);
    cbLineFormat->setCurrentIndex(formatItem);
    txtLineAddrEth->setText(QString::number(address));
    cbLineFormatEth->setCurrentIndex(formatItem);
    cbComPortChange();

    // Releasing the button here must not reopen the panel through its toggle handler.
    panRS485->hide();
    {
        const bool wasSyncing = fSyncingPanelButtons;
        fSyncingPanelButtons = true;
        btnRS485->setChecked(false);
        fSyncingPanelButtons = wasSyncing;
    }
    ResetBtn_Timer->start();
    labNeedReset->show();
    btnReset->setAccessibleDescription(QStringLiteral("Требуется перезагрузка"));

    SetRegInOrder(RegAddress, address);
    SetRegInOrder(RegSpeed, speedCode);
    SetRegInOrder(RegFormat, FirstFormatCode + formatItem);
    SetRegInOrder(RegTimeout, timeout);
}

void TfrQuadrel::ResetBtn_TimerTimer()
{
    QPalette palette = btnReset->palette();
    if (palette.color(QPalette::Button) == ResetRed) {
        btnReset->setPalette(QPalette());
    } else {
        palette.setColor(QPalette::Button, ResetRed);
        palette.setColor(QPalette::Light, ResetRedTo);
        palette.setColor(QPalette::Midlight, ResetRedTo);
        btnReset->setPalette(palette);
    }
}

void TfrQuadrel::btnResetClick()
{
    fLink->StopPoll();
    labNeedReset->hide();
    ResetBtn_Timer->stop();
    btnReset->setPalette(QPalette());
    btnReset->setAccessibleDescription(QString());
    StopSequences(); // also drops ordered writes not yet handed over
    fLink->ClearRequests();
    // Identical frames still queued are refused, so one command normally goes out.
    for (int i = 0; i < 3; ++i)
        SetRegByID(RegCommand, RestartCommand, true);
    // No second restart while this one is under way.
    btnReset->setEnabled(false);

    // The module restarts meanwhile; the restart's echo, the timers and the operator's clicks are
    // handled as usual. The end of the wait belongs to this connection only.
    fRestartConnection = fLink->ConnectionSerial();
    RestartWait_Timer->start();
}

void TfrQuadrel::RestartWaitEnded()
{
    // A disconnect during the wait ended the restart's connection for good, and a connection
    // made since is not the restarting module's: neither is touched.
    if (!Connected || fRestartConnection != fLink->ConnectionSerial())
        return;
    SetConnected(false);
    // Writes queued during the wait would otherwise wait for the next connection.
    StopSequences();
    // The module is restarting under new settings: the link lets go of it here, since the
    // connection check no longer runs once a connection has been confirmed.
    fLink->Disconnect();
    Anima(false);
    CloseAllPanel();
    ButtonsEnabled(false);
    ClearLabels(QStringLiteral("..."));
    for (int n = 1; n <= 20; ++n) {
        Outputs().SetFill(n, 0);
        SetDOUT(n, false);
    }
}

void TfrQuadrel::SetMAC(const QByteArray &aMAC)
{
    if (aMAC.size() != 6)
        return;
    QStringList bytes;
    for (const char byte : aMAC)
        bytes << QStringLiteral("%1").arg(uint8_t(byte), 2, 16, QLatin1Char('0')).toUpper();
    txtMAC->setText(bytes.join(u'-'));
}

void TfrQuadrel::puMAC_CopyClick()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(txtMAC->text());
}
