// The bus search on the panel: the search pictures, the result panel and its list, and taking
// over a found module's settings.

#include "panel/uSearchPanel.h"

#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "model/uConnectionRules.h"
#include "panel/uBlinker.h"
#include "panel/uControlBuilders.h"
#include "panel/uFieldCheck.h"
#include "panel/uPanelHost.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <functional>

namespace {

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

TzSearchPanel::TzSearchPanel(TzPanelHost &aHost, const TzConnectionPage &aPage, QWidget *aFrame)
    : QObject(aFrame), fHost(aHost), fPage(aPage), fEngine(std::make_unique<TfrmFindDevice>())
{
    setObjectName(QStringLiteral("SearchPanel"));
    CreateControls(aFrame);

    // The search pictures are picture buttons: Space, Enter and the accessible press click them.
    for (TzPictureLabel *picture : {fPage.Find, fPage.FindEth})
        connect(picture, &TzPictureLabel::clicked, this, &TzSearchPanel::PictureClicked);

    connect(fList, &QListWidget::itemClicked, this, &TzSearchPanel::TakeSelected);
    // Moving through the list with the arrow keys takes a result over as a click does.
    connect(fList, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *aCurrent) {
        if (aCurrent && fList->hasFocus())
            TakeSelected();
    });
    connect(fList, &QListWidget::itemDoubleClicked, this, &TzSearchPanel::ConnectSelected);
    new TzKeyActivator(
        fList,
        [this] {
            TakeSelected();
            ConnectSelected();
        },
        false);
}

TzSearchPanel::~TzSearchPanel()
{
    fEngine.reset();
}

void TzSearchPanel::CreateControls(QWidget *aFrame)
{
    // The result panel, beside the connection panel.
    fResults = PanelControls::PopupFrame(aFrame, "panFind", QSize(200, 230));
    auto *column = new QVBoxLayout(fResults);
    auto *title = new QLabel(QStringLiteral("Устройства"), fResults);
    title->setObjectName(QStringLiteral("labFindCaption"));
    column->addWidget(title);
    fList = new QListWidget(fResults);
    fList->setObjectName(QStringLiteral("FindListBox"));
    fList->setAccessibleName(QStringLiteral("Найденные устройства"));
    fProgress = new QProgressBar(fResults);
    fProgress->setObjectName(QStringLiteral("FindProgress"));
    fProgress->setAccessibleName(QStringLiteral("Ход поиска"));
    fProgress->setRange(FindFirstAddr, FindLastAddr);
    fProgress->hide();
    column->addWidget(fList);
    column->addWidget(fProgress);

    fAllSettings = new QCheckBox(QStringLiteral("Все скорости и форматы"), fPage.SerialPage);
    fAllSettings->setObjectName(QStringLiteral("chkFindAllSettings"));
    fAllSettings->setToolTip(QStringLiteral("Поиск на всех скоростях и во всех форматах по очереди"));
    fAllSettings->setChecked(false);
    if (auto *form = qobject_cast<QFormLayout *>(fPage.SerialPage->layout()))
        form->addRow(QString(), fAllSettings);
}

void TzSearchPanel::SetFieldsEnabled(bool aEnabled)
{
    // The scan runs with the settings it started with; fields edited meanwhile would be saved and
    // shown as if the scan used them.
    for (QWidget *field : std::initializer_list<QWidget *>{fPage.Port, fPage.Address, fPage.Speed, fPage.Format,
                                                           fPage.Timeout, fAllSettings, fPage.Host, fPage.UdpPort,
                                                           fPage.Wait, fPage.FormatEth, fPage.AddressEth})
        field->setEnabled(aEnabled);
}

void TzSearchPanel::PictureClicked()
{
    if (fHost.HostConnected())
        return;
    if (fEngine->InFindProgress()) {
        Stop();
    } else if (!Start()) {
        Stop();
    }
}

bool TzSearchPanel::Start()
{
    if (fHost.HostConnected() || fEngine->InFindProgress())
        return false;
    int timeout = 0;
    const bool byEthernet = fPage.IsEthernet();
    if (byEthernet) {
        int port = 0;
        if (!IsValidIPv4(fPage.Host->text())) {
            BlinkEdit(fPage.Host);
            return false;
        }
        if (!CheckBlinkEditInt(fPage.UdpPort, port, 1, 65535) || !CheckBlinkEditInt(fPage.Wait, timeout, 50, 10000))
            return false;
        EthernetHost = fPage.Host->text();
        EthernetPort = port;
        EthernetWaitTime = timeout;
    } else {
        emit FieldsChanged();
        if (!CheckBlinkEditInt(fPage.Timeout, timeout, NoLimit, NoLimit))
            return false;
        const int speed = fPage.Speed->currentText().toInt();
        if (!CheckTimeout(timeout, speed)) {
            timeout = GetTimeout(speed);
            fPage.Timeout->setText(QString::number(timeout));
            BlinkEdit(fPage.Timeout);
        }
    }

    SetFieldsEnabled(false);
    fEngine->SetPortName(fPage.Port->currentText());
    fEngine->SetBaudRate(fPage.Speed->currentText().toInt());
    fEngine->SetFormat(fPage.Format->currentIndex());
    fEngine->SetTimeout(timeout);
    fEngine->OnFindAddr = [this](int aAddr, const TStringBytes &aAnswer) { Found(aAddr, aAnswer); };
    fEngine->OnFindProcess = [this](int aPos) { Progress(aPos); };

    emit ScanRunning(true);
    fPage.Find->SetPicture(QStringLiteral("find_busy"));
    fPage.FindEth->SetPicture(QStringLiteral("find_busy"));
    if (fPage.Panel->isVisible())
        fResults->move(fPage.Panel->x() + fPage.Panel->width() + 1, fPage.Panel->y());
    fResults->show();
    fResults->raise();
    fList->clear();
    fAniPos = 1;

    fEngine->Cycled = true;
    fEngine->ByEthernet = byEthernet;
    fEngine->AllLineSettings = !byEthernet && fAllSettings->isChecked();
    if (!fEngine->Start()) {
        if (fEngine->LastError() == TfrmFindDevice::fePortBusy || fEngine->LastError() == TfrmFindDevice::feNoPort) {
            emit Warning(QStringLiteral("Выбранный СОМ-порт занят или недоступен"));
            // Over Ethernet the local port of the converter's number is what could not be had.
            const QString endpoint = byEthernet ? QStringLiteral("%1:%2").arg(EthernetHost).arg(EthernetPort)
                                                : fPage.PortCaption();
            TempLogAdd(endpoint + QStringLiteral(" занят или недоступен"), LogMaroon);
        }
        return false;
    }
    fProgress->setValue(fProgress->minimum());
    fProgress->show();
    return true;
}

void TzSearchPanel::StopScan()
{
    if (fEngine->InFindProgress())
        Stop();
}

void TzSearchPanel::Stop()
{
    if (fEngine->InFindProgress()) {
        fEngine->Stop();
        for (int row = 0; row < fList->count(); ++row)
            if (EntryKind(fList->item(row)) == fekCounter) {
                delete fList->takeItem(row);
                break;
            }
    }
    SetFieldsEnabled(true);
    fPage.Find->SetPicture(QStringLiteral("find_idle"));
    fPage.FindEth->SetPicture(QStringLiteral("find_idle"));
    fProgress->hide();
    emit ScanRunning(false);
}

void TzSearchPanel::Progress(int aPos)
{
    if (!fEngine->InFindProgress())
        return;
    fProgress->setValue(aPos);
    fAniPos = fAniPos % FindAniDots + 1;
    QString line = QStringLiteral("[%1] ").arg(aPos);
    if (fEngine->AllLineSettings) {
        const TzFindLine settings = fEngine->CurrentLine();
        line += QStringLiteral("%1, %2 ").arg(settings.BaudRate).arg(LineFormatLabel(settings.Format));
    }
    line += QString(fAniPos, u'.');
    if (fList->count() == 0) {
        auto *counter = new QListWidgetItem(fList);
        counter->setData(FindEntryKindRole, fekCounter);
    }
    fList->item(0)->setText(line);
}

void TzSearchPanel::Found(int aAddr, const TStringBytes &aAnswer)
{
    // One line per answering device, whatever the number of passes it answered in.
    const bool quadrel = IsQuadrelAnswer(aAnswer);
    const TzFindEntryKind kind = quadrel ? fekDevice : fekUnknown;
    for (int row = 0; row < fList->count(); ++row) {
        const QListWidgetItem *item = fList->item(row);
        if (EntryKind(item) == kind && item->data(FindEntryAddrRole).toInt() == aAddr)
            return;
    }
    if (!quadrel) {
        auto *unknown = new QListWidgetItem(QStringLiteral("[%1] Unknown").arg(aAddr), fList);
        unknown->setData(FindEntryKindRole, fekUnknown);
        unknown->setData(FindEntryAddrRole, aAddr);
        return;
    }
    TzFindDevice found;
    found.ComPortIndx = fPage.Port->currentIndex();
    found.ComPortName = fPage.Port->currentText();
    found.Addr = aAddr;
    if (fEngine->AllLineSettings) {
        // The settings of the pass it answered in, not those on the page.
        const TzFindLine settings = fEngine->CurrentLine();
        found.BaudRateIndx = fPage.Speed->findText(QString::number(settings.BaudRate));
        found.FormatIndx = settings.Format;
        found.Timeout = QString::number(settings.Timeout);
    } else {
        found.BaudRateIndx = fPage.Speed->currentIndex();
        found.FormatIndx = fPage.Format->currentIndex();
        found.Timeout = fPage.Timeout->text();
    }
    found.aType = FindQuadrelType;
    found.Answer = aAnswer;
    found.Timestamp = GetTickCount32();
    found.ByEthernet = fEngine->ByEthernet;
    auto *item = new QListWidgetItem(QStringLiteral("[%1] Quadrel").arg(aAddr), fList);
    item->setData(FindEntryKindRole, fekDevice);
    item->setData(FindEntryDeviceRole, QVariant::fromValue(found));
    item->setData(FindEntryAddrRole, aAddr);
}

void TzSearchPanel::TakeSelected()
{
    const QListWidgetItem *item = fList->currentItem();
    if (EntryKind(item) != fekDevice)
        return;
    const TzFindDevice found = item->data(FindEntryDeviceRole).value<TzFindDevice>();
    // By name first: a refreshed port list may have put the port at another index.
    int port = fPage.Port->findText(found.ComPortName);
    if (port < 0)
        port = found.ComPortIndx;
    if (port >= 0 && port < fPage.Port->count())
        fPage.Port->setCurrentIndex(port);
    fPage.Address->setText(QString::number(found.Addr));
    if (found.BaudRateIndx >= 0)
        fPage.Speed->setCurrentIndex(found.BaudRateIndx);
    if (found.FormatIndx >= 0)
        fPage.Format->setCurrentIndex(found.FormatIndx);
    fPage.Timeout->setText(found.Timeout);
    // Found through the converter: the Ethernet page is the one that connects to it.
    if (found.ByEthernet)
        fPage.AddressEth->setText(QString::number(found.Addr));
    emit FieldsChanged();
}

void TzSearchPanel::ConnectSelected()
{
    // The scan holds the port (or the converter's local port): it ends before the connection
    // opens it.
    StopScan();
    emit ConnectRequested();
}

void TzSearchPanel::ShowResultsIfAny()
{
    fResults->move(fPage.Panel->x() + fPage.Panel->width() + 1, fPage.Panel->y());
    fResults->setVisible(!fHost.HostConnected() && fList->count() >= 1 && fPage.Panel->isVisible());
    if (fResults->isVisible())
        fResults->raise();
}

void TzSearchPanel::HideResults()
{
    fResults->hide();
}
