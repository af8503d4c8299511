// The frame's side of the bus search: the search pictures, the result panel and its list, and
// taking over a found module's settings.

#include "panel/uQuadrelSearch.h"

#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "model/uConnectionRules.h"
#include "panel/uBlinker.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include <functional>

namespace {

constexpr int NoLimit = 2147483647;
constexpr int FindAniDots = 10;

// Runs an action on Space, Enter and Return, so a picture that acts as a button and the result
// list work from the keyboard. The key is consumed: nothing else acts on it a second time.
class TzKeyActivator : public QObject
{
public:
    TzKeyActivator(QWidget *aTarget, std::function<void()> aAction, bool aSpace)
        : QObject(aTarget), fAction(std::move(aAction)), fSpace(aSpace)
    {
        aTarget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *aWatched, QEvent *aEvent) override
    {
        if (aEvent->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(aEvent)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || (fSpace && key == Qt::Key_Space)) {
                fAction();
                return true;
            }
        }
        return QObject::eventFilter(aWatched, aEvent);
    }

private:
    std::function<void()> fAction;
    bool fSpace;
};

TzFindEntryKind EntryKind(const QListWidgetItem *aItem)
{
    return aItem ? TzFindEntryKind(aItem->data(FindEntryKindRole).toInt()) : fekNone;
}

} // namespace

void TfrQuadrel::CreateSearchControls()
{
    FindDevice = std::make_unique<TfrmFindDevice>();

    chkFindAllSettings = new QCheckBox(QStringLiteral("Все скорости и форматы"), PageConnCOM);
    chkFindAllSettings->setObjectName(QStringLiteral("chkFindAllSettings"));
    chkFindAllSettings->setToolTip(QStringLiteral("Поиск на всех скоростях и во всех форматах по очереди"));
    chkFindAllSettings->setChecked(false);
    if (auto *form = qobject_cast<QFormLayout *>(PageConnCOM->layout()))
        form->addRow(QString(), chkFindAllSettings);

    // The search pictures are picture buttons: Space, Enter and the accessible press click them.
    for (TzPictureLabel *picture : {imgFindDevice, imgFindDeviceEth})
        connect(picture, &TzPictureLabel::clicked, this, &TfrQuadrel::imgFindDeviceClick);

    connect(FindListBox, &QListWidget::itemClicked, this, &TfrQuadrel::FindListBoxClick);
    // Moving through the list with the arrow keys takes a result over as a click does.
    connect(FindListBox, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *aCurrent) {
        if (aCurrent && FindListBox->hasFocus())
            FindListBoxClick();
    });
    connect(FindListBox, &QListWidget::itemDoubleClicked, this, &TfrQuadrel::FindListBoxDblClick);
    new TzKeyActivator(
        FindListBox,
        [this] {
            FindListBoxClick();
            FindListBoxDblClick();
        },
        false);
    FindProgress->hide();
}

void TfrQuadrel::SetFindFieldsEnabled(bool aEnabled)
{
    // The scan runs with the settings it started with; fields edited meanwhile would be saved and
    // shown as if the scan used them.
    for (QWidget *field :
         std::initializer_list<QWidget *>{cbComPort, txtLineAddr, cbLineBaudRate, cbLineFormat, txtLineTimeout,
                                          chkFindAllSettings, txtEthernetAddr, txtEthernetPort, txtEthernetTimeout,
                                          cbLineFormatEth, txtLineAddrEth})
        field->setEnabled(aEnabled);
}

void TfrQuadrel::imgFindDeviceClick()
{
    if (Connected)
        return;
    if (FindDevice->InFindProgress()) {
        FindStop();
    } else if (!FindStart()) {
        FindStop();
    }
}

bool TfrQuadrel::FindStart()
{
    if (Connected || FindDevice->InFindProgress())
        return false;
    int timeout = 0;
    const bool byEthernet = IsEthernetPage();
    if (byEthernet) {
        int port = 0;
        if (!IsValidIPv4(txtEthernetAddr->text())) {
            BlinkEdit(txtEthernetAddr);
            return false;
        }
        if (!CheckBlinkEditInt(txtEthernetPort, port, 1, 65535)
            || !CheckBlinkEditInt(txtEthernetTimeout, timeout, 50, 10000))
            return false;
        EthernetHost = txtEthernetAddr->text();
        EthernetPort = port;
        EthernetWaitTime = timeout;
    } else {
        cbComPortChange();
        if (!CheckBlinkEditInt(txtLineTimeout, timeout, NoLimit, NoLimit))
            return false;
        if (!CheckTimeout(timeout, BaudRate)) {
            timeout = GetTimeout(BaudRate);
            txtLineTimeout->setText(QString::number(timeout));
            BlinkEdit(txtLineTimeout);
        }
    }

    SetFindFieldsEnabled(false);
    FindDevice->SetPortName(cbComPort->currentText());
    FindDevice->SetBaudRate(BaudRate);
    FindDevice->SetFormat(cbLineFormat->currentIndex());
    FindDevice->SetTimeout(timeout);
    FindDevice->OnFindAddr = [this](int aAddr, const TStringBytes &aAnswer) { FindAddrProc(aAddr, aAnswer); };
    FindDevice->OnFindProcess = [this](int aPos) { FindProcessProc(aPos); };

    btnConnect->setEnabled(false);
    imgFindDevice->SetPicture(QStringLiteral("find_busy"));
    imgFindDeviceEth->SetPicture(QStringLiteral("find_busy"));
    if (panComPort->isVisible())
        panFind->move(panComPort->x() + panComPort->width() + 1, panComPort->y());
    panFind->show();
    panFind->raise();
    FindListBox->clear();
    FindProcessAniPos = 1;

    FindDevice->Cycled = true;
    FindDevice->ByEthernet = byEthernet;
    FindDevice->AllLineSettings = !byEthernet && chkFindAllSettings->isChecked();
    if (!FindDevice->Start()) {
        if (FindDevice->LastError() == TfrmFindDevice::fePortBusy
            || FindDevice->LastError() == TfrmFindDevice::feNoPort) {
            MessageBoxNew(this, QStringLiteral("Выбранный СОМ-порт занят или недоступен"),
                          QStringLiteral("Уведомление"), 0x30);
            // Over Ethernet the local port of the converter's number is what could not be had.
            const QString endpoint = byEthernet ? QStringLiteral("%1:%2").arg(EthernetHost).arg(EthernetPort)
                                                : PortCaption();
            TempLogAdd(endpoint + QStringLiteral(" занят или недоступен"), LogMaroon);
        }
        return false;
    }
    FindProgress->setValue(FindProgress->minimum());
    FindProgress->show();
    return true;
}

void TfrQuadrel::FindStop()
{
    if (FindDevice->InFindProgress()) {
        FindDevice->Stop();
        for (int row = 0; row < FindListBox->count(); ++row)
            if (EntryKind(FindListBox->item(row)) == fekCounter) {
                delete FindListBox->takeItem(row);
                break;
            }
    }
    SetFindFieldsEnabled(true);
    imgFindDevice->SetPicture(QStringLiteral("find_idle"));
    imgFindDeviceEth->SetPicture(QStringLiteral("find_idle"));
    FindProgress->hide();
    btnConnect->setEnabled(true);
}

void TfrQuadrel::FindProcessProc(int aPos)
{
    if (!FindDevice->InFindProgress())
        return;
    FindProgress->setValue(aPos);
    FindProcessAniPos = FindProcessAniPos % FindAniDots + 1;
    QString line = QStringLiteral("[%1] ").arg(aPos);
    if (FindDevice->AllLineSettings) {
        const TzFindLine settings = FindDevice->CurrentLine();
        line += QStringLiteral("%1, %2 ").arg(settings.BaudRate).arg(LineFormatLabel(settings.Format));
    }
    line += QString(FindProcessAniPos, u'.');
    if (FindListBox->count() == 0) {
        auto *counter = new QListWidgetItem(FindListBox);
        counter->setData(FindEntryKindRole, fekCounter);
    }
    FindListBox->item(0)->setText(line);
}

void TfrQuadrel::FindAddrProc(int aAddr, const TStringBytes &Answer)
{
    // One line per answering device, whatever the number of passes it answered in.
    const bool quadrel = IsQuadrelAnswer(Answer);
    const TzFindEntryKind kind = quadrel ? fekDevice : fekUnknown;
    for (int row = 0; row < FindListBox->count(); ++row) {
        const QListWidgetItem *item = FindListBox->item(row);
        if (EntryKind(item) == kind && item->data(FindEntryAddrRole).toInt() == aAddr)
            return;
    }
    if (!quadrel) {
        auto *unknown = new QListWidgetItem(QStringLiteral("[%1] Unknown").arg(aAddr), FindListBox);
        unknown->setData(FindEntryKindRole, fekUnknown);
        unknown->setData(FindEntryAddrRole, aAddr);
        return;
    }
    TzFindDevice found;
    found.ComPortIndx = cbComPort->currentIndex();
    found.ComPortName = cbComPort->currentText();
    found.Addr = aAddr;
    if (FindDevice->AllLineSettings) {
        // The settings of the pass it answered in, not those on the page.
        const TzFindLine settings = FindDevice->CurrentLine();
        found.BaudRateIndx = cbLineBaudRate->findText(QString::number(settings.BaudRate));
        found.FormatIndx = settings.Format;
        found.Timeout = QString::number(settings.Timeout);
    } else {
        found.BaudRateIndx = cbLineBaudRate->currentIndex();
        found.FormatIndx = cbLineFormat->currentIndex();
        found.Timeout = txtLineTimeout->text();
    }
    found.aType = FindQuadrelType;
    found.Answer = Answer;
    found.Timestamp = GetTickCount32();
    found.ByEthernet = FindDevice->ByEthernet;
    auto *item = new QListWidgetItem(QStringLiteral("[%1] Quadrel").arg(aAddr), FindListBox);
    item->setData(FindEntryKindRole, fekDevice);
    item->setData(FindEntryDeviceRole, QVariant::fromValue(found));
    item->setData(FindEntryAddrRole, aAddr);
}

void TfrQuadrel::FindListBoxClick()
{
    const QListWidgetItem *item = FindListBox->currentItem();
    if (EntryKind(item) != fekDevice)
        return;
    const TzFindDevice found = item->data(FindEntryDeviceRole).value<TzFindDevice>();
    // By name first: a refreshed port list may have put the port at another index.
    int port = cbComPort->findText(found.ComPortName);
    if (port < 0)
        port = found.ComPortIndx;
    if (port >= 0 && port < cbComPort->count())
        cbComPort->setCurrentIndex(port);
    txtLineAddr->setText(QString::number(found.Addr));
    if (found.BaudRateIndx >= 0)
        cbLineBaudRate->setCurrentIndex(found.BaudRateIndx);
    if (found.FormatIndx >= 0)
        cbLineFormat->setCurrentIndex(found.FormatIndx);
    txtLineTimeout->setText(found.Timeout);
    // Found through the converter: the Ethernet page is the one that connects to it.
    if (found.ByEthernet)
        txtLineAddrEth->setText(QString::number(found.Addr));
    cbComPortChange();
    SaveOptions();
}

void TfrQuadrel::FindListBoxDblClick()
{
    // The scan holds the port (or the converter's local port): it ends before the connection
    // opens it.
    if (FindDevice->InFindProgress())
        FindStop();
    btnConnectClick();
}
