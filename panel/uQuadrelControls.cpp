// Builds the frame's controls: names, captions, hints, accessible names and their fixed places.

#include "panel/uDeviceSettingsPanel.h"
#include "panel/uPictureLabel.h"
#include "panel/uPulseWidthPanel.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSearchPanel.h"
#include "panel/uSequencePanel.h"

#include "panel/uControlBuilders.h"
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using PanelControls::Button;
using PanelControls::Combo;
using PanelControls::DigitsEdit;
using PanelControls::Label;
using PanelControls::PopupFrame;

const QStringList LineSpeeds{"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400", "57600", "115200"};
const QStringList LineFormats{"MODBUS RTU 8N1", "MODBUS RTU 8O1", "MODBUS RTU 8E1", "MODBUS RTU 8N2"};

} // namespace

void TfrQuadrel::CreateControls()
{
    // Left column: the panel buttons and the connect button.
    btnComPort = Button(this, "btnComPort", QStringLiteral("СОМ-порт"), QRect(8, 8, 200, 28), true);
    btnRS485 = Button(this, "btnRS485", QStringLiteral("Устройство"), QRect(8, 40, 200, 28), true);
    btnDOUT = Button(this, "btnDOUT", QStringLiteral("Широтно импульсная модуляция"), QRect(8, 72, 200, 28), true);
    btnConnect = Button(this, "btnConnect", QStringLiteral("Подключиться"), QRect(8, 140, 112, 32));
    labAni = Label(this, "labAni", QString(), QRect(8, 174, 112, 14));
    labAni->hide();
    imgArrow = new TzPictureLabel(QStringLiteral("imgArrow"), QStringLiteral("arrow"),
                                  QStringLiteral("Нажмите, чтобы подключиться"), this);
    imgArrow->move(128, 146);

    // Status block.
    const QStringList captions{"Адрес:", "Скорость:", "Формат:", "Версия ПО:", "Питание:", "Очередь: "};
    for (int i = 0; i < captions.size(); ++i)
        Label(this, "", captions[i], QRect(224, 8 + 20 * i, 80, 18));
    labAddr = Label(this, "labAddr", QStringLiteral("..."), QRect(308, 8, 100, 18));
    labBaudRate = Label(this, "labBaudRate", QStringLiteral("..."), QRect(308, 28, 100, 18));
    labFormat = Label(this, "labFormat", QStringLiteral("..."), QRect(308, 48, 100, 18));
    labVerPO = Label(this, "labVerPO", QStringLiteral("..."), QRect(308, 68, 100, 18));
    labPower1 = Label(this, "labPower1", QStringLiteral("0.00 В"), QRect(308, 88, 70, 18));
    labPower1->setAutoFillBackground(true);
    labPower1->setAlignment(Qt::AlignCenter);
    labTest = Label(this, "labTest", QStringLiteral("..."), QRect(308, 108, 100, 18));
    labDate = Label(this, "labDate", QStringLiteral("..."), QRect(308, 128, 100, 18));
    labTime = Label(this, "labTime", QStringLiteral("..."), QRect(308, 128, 100, 18));
    labDate->hide();
    labTime->hide();
    btnPortObserver = Button(this, "btnPortObserver", QStringLiteral("Монитор обмена"), QRect(224, 140, 150, 28));
    btnPortObserver->setToolTip(QStringLiteral("Запросы и ответы на линии"));
    btnPortObserver->hide();

    // Top right: logo and the window buttons; FrameResize keeps them at the right edge.
    imgLogo = new TzPictureLabel(QStringLiteral("imgLogo"), QStringLiteral("logo"), QStringLiteral("Quadrel"), this);
    imgHat = new TzPictureLabel(QStringLiteral("imgHat"), QStringLiteral("hat"), QString(), this);
    imgHat->setAccessibleName(QString());
    btnHelp = Button(this, "btnHelp", QStringLiteral("Справка"), QRect(0, 0, 90, 24));
    btnVerInfo = Button(this, "btnVerInfo", QStringLiteral("ver 0.7a"), QRect(0, 0, 90, 24));
    btnTempLog = Button(this, "btnTempLog", QStringLiteral(" Лог"), QRect(0, 0, 90, 24));
    btnAutorun = Button(this, "btnAutorun", QStringLiteral("Автозапуск"), QRect(420, 104, 130, 28), true);
    btnAutorun->hide();

    // Test features, shown only in test mode.
    cbStyles = Combo(this, "cbStyles", {QStringLiteral("Terminal")}, 0, QStringLiteral("Стиль оформления"));
    cbStyles->setGeometry(420, 8, 130, 24);
    // The web bridge's test features (TzWebBridgePanel) follow below the style list.
    cbStyles->hide();

    // The output grid.
    labDOUTS = Label(this, "labDOUTS", QStringLiteral("Дискретные выходы"), QRect(8, 196, 400, 18));
    SG_Relays = new TzRelayGrid(fOutputs, this);

    // Connection panel with its two pages.
    panComPort = PopupFrame(this, "panComPort", QSize(330, 230));
    ConnectPager = new QTabWidget(panComPort);
    ConnectPager->setObjectName(QStringLiteral("ConnectPager"));
    ConnectPager->setGeometry(4, 4, 322, 222);

    PageConnCOM = new QWidget;
    PageConnCOM->setObjectName(QStringLiteral("PageConnCOM"));
    auto *comForm = new QFormLayout(PageConnCOM);
    cbComPort = Combo(PageConnCOM, "cbComPort", {}, -1, QStringLiteral("СОМ-порт"));
    cbComPort->setEditable(true);
    cbComPort->setMinimumWidth(150);
    imgRefreshPortList = new TzPictureLabel(QStringLiteral("imgRefreshPortList"), QStringLiteral("refresh"),
                                            QStringLiteral("Обновить список портов"), PageConnCOM);
    imgFindDevice = new TzPictureLabel(QStringLiteral("imgFindDevice"), QStringLiteral("find_idle"),
                                       QStringLiteral("Поиск устройств"), PageConnCOM);
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(cbComPort, 1);
    portRow->addWidget(imgRefreshPortList);
    portRow->addWidget(imgFindDevice);
    comForm->addRow(QStringLiteral("Порт:"), portRow);
    cbLineBaudRate = Combo(PageConnCOM, "cbLineBaudRate", LineSpeeds, 3, QStringLiteral("Скорость обмена"));
    comForm->addRow(QStringLiteral("Скорость:"), cbLineBaudRate);
    cbLineFormat = Combo(PageConnCOM, "cbLineFormat", LineFormats, 0, QStringLiteral("Формат символа"));
    comForm->addRow(QStringLiteral("Формат:"), cbLineFormat);
    txtLineAddr = DigitsEdit(PageConnCOM, "txtLineAddr", QStringLiteral("16"), QStringLiteral("Адрес прибора"));
    txtLineAddr->setToolTip(QStringLiteral("Адрес прибора\r\nДиапазон: 1..247"));
    comForm->addRow(QStringLiteral("Адрес:"), txtLineAddr);
    txtLineTimeout = DigitsEdit(PageConnCOM, "txtLineTimeout", QStringLiteral("20"), QStringLiteral("Сетевой таймаут"));
    comForm->addRow(QStringLiteral("Таймаут, мс:"), txtLineTimeout);
    ConnectPager->addTab(PageConnCOM, QStringLiteral("   СОМ-порт"));

    PageConnEthernet = new QWidget;
    PageConnEthernet->setObjectName(QStringLiteral("PageConnEthernet"));
    auto *ethForm = new QFormLayout(PageConnEthernet);
    txtEthernetAddr = new QLineEdit(PageConnEthernet);
    txtEthernetAddr->setObjectName(QStringLiteral("txtEthernetAddr"));
    txtEthernetAddr->setAccessibleName(QStringLiteral("IP-адрес"));
    txtEthernetAddr->setMaxLength(15);
    imgFindDeviceEth = new TzPictureLabel(QStringLiteral("imgFindDeviceEth"), QStringLiteral("find_idle"),
                                          QStringLiteral("Поиск устройств"), PageConnEthernet);
    auto *addrRow = new QHBoxLayout;
    addrRow->addWidget(txtEthernetAddr, 1);
    addrRow->addWidget(imgFindDeviceEth);
    ethForm->addRow(QStringLiteral("IP-адрес:"), addrRow);
    txtEthernetPort = DigitsEdit(PageConnEthernet, "txtEthernetPort", QStringLiteral("40000"), QStringLiteral("Порт"));
    ethForm->addRow(QStringLiteral("Порт:"), txtEthernetPort);
    txtEthernetTimeout = DigitsEdit(PageConnEthernet, "txtEthernetTimeout", QStringLiteral("200"),
                                    QStringLiteral("Время ожидания ответа"), 4);
    ethForm->addRow(QStringLiteral("Ожидание, мс:"), txtEthernetTimeout);
    cbLineFormatEth = Combo(PageConnEthernet, "cbLineFormatEth", LineFormats, 0, QStringLiteral("Формат символа"));
    ethForm->addRow(QStringLiteral("Формат:"), cbLineFormatEth);
    txtLineAddrEth = DigitsEdit(PageConnEthernet, "txtLineAddrEth", QStringLiteral("16"),
                                QStringLiteral("Адрес прибора"));
    txtLineAddrEth->setToolTip(QStringLiteral("Адрес прибора\r\nДиапазон: 1..247"));
    ethForm->addRow(QStringLiteral("Адрес:"), txtLineAddrEth);
    ConnectPager->addTab(PageConnEthernet, QStringLiteral("     Ethernet"));

    // The picture buttons take focus and act on Space and Enter like push buttons.
    for (TzPictureLabel *picture : {imgRefreshPortList, imgFindDevice, imgFindDeviceEth})
        picture->SetButton(true);

    // The bus search, with its result panel beside the connection panel.
    fSearch = new TzSearchPanel(*this, ConnectionPage(), this);
    connect(fSearch, &TzSearchPanel::FieldsChanged, this, &TfrQuadrel::cbComPortChange);
    connect(fSearch, &TzSearchPanel::ScanRunning, this, [this](bool aRunning) { btnConnect->setEnabled(!aRunning); });
    connect(fSearch, &TzSearchPanel::ConnectRequested, this, &TfrQuadrel::btnConnectClick);
    connect(fSearch, &TzSearchPanel::Warning, this,
            [this](const QString &aText) { MessageBoxNew(this, aText, QStringLiteral("Уведомление"), 0x30); });

    // Pulse-width panel with its selector row and the calculator beside it; the light sequences
    // and the all-outputs commands.
    fPulseWidth = new TzPulseWidthPanel(*this, *fOutputs, this);
    fSequences = new TzSequencePanel(*this, *fOutputs, this);

    // Timers.
    auto timer = [this](const char *aName, int aInterval, bool aSingleShot = false) {
        auto *t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(aName));
        t->setInterval(aInterval);
        t->setSingleShot(aSingleShot);
        return t;
    };
    AniTimer = timer("AniTimer", 100);
    InterfaceTimer = timer("InterfaceTimer", 500);
    ArrowTimer = timer("ArrowTimer", 30);

    // The device settings: the reset button (in the keyboard order below the panel buttons),
    // the "Устройство" panel and the identifier.
    fDeviceSettings = new TzDeviceSettingsPanel(*this, this);
    QWidget::setTabOrder(btnDOUT, fDeviceSettings->ResetButton());

    // Labels that show a value are read out with their caption.
    const std::pair<QLabel *, const char *> valueLabels[] = {
        {labAddr, "Адрес"},     {labBaudRate, "Скорость"}, {labFormat, "Формат"}, {labVerPO, "Версия ПО"},
        {labPower1, "Питание"}, {labTest, "Очередь"},      {labDate, "Дата"},     {labTime, "Время"},
    };
    for (const auto &[label, caption] : valueLabels)
        MarkValueLabel(label, QString::fromUtf8(caption));
}

namespace {

// The style's description of a push button as it is drawn, with the caption given.
QStyleOptionButton ButtonOption(const QPushButton *aButton, const QString &aCaption)
{
    QStyleOptionButton option;
    option.initFrom(aButton);
    if (aButton->isFlat())
        option.features |= QStyleOptionButton::Flat;
    if (aButton->menu())
        option.features |= QStyleOptionButton::HasMenu;
    if (aButton->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    if (aButton->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    if (aButton->isDown())
        option.state |= QStyle::State_Sunken;
    if (aButton->isChecked())
        option.state |= QStyle::State_On;
    if (!aButton->isFlat() && !aButton->isDown())
        option.state |= QStyle::State_Raised;
    option.text = aCaption;
    option.icon = aButton->icon();
    option.iconSize = aButton->iconSize();
    return option;
}

// The room a push button gives its caption: the part of the button the style draws the label in
// (inside border and padding), less the icon with its gap.
int CaptionRoom(const QPushButton *aButton)
{
    const QStyleOptionButton option = ButtonOption(aButton, aButton->text());
    int room = aButton->style()->subElementRect(QStyle::SE_PushButtonContents, &option, aButton).width();
    if (!aButton->icon().isNull())
        room -= aButton->iconSize().width() + 4;
    return room;
}

// A caption wider than its button is drawn elided, and the button's hint then starts with the
// whole caption. The caption itself stays whole: text() and what assistive technology reads.
class TzCaptionFit : public QObject
{
public:
    explicit TzCaptionFit(QPushButton *aButton) : QObject(aButton), fButton(aButton)
    {
        aButton->installEventFilter(this);
        Update();
    }

protected:
    bool eventFilter(QObject *aWatched, QEvent *aEvent) override
    {
        if (aWatched != fButton)
            return QObject::eventFilter(aWatched, aEvent);
        switch (aEvent->type()) {
        case QEvent::Paint:
            // Captions change without an event of their own; they are measured again as drawn.
            Update();
            if (!fElided.isEmpty()) {
                PaintElided();
                return true;
            }
            break;
        case QEvent::Resize:
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::Show: Update(); break;
        default: break;
        }
        return QObject::eventFilter(aWatched, aEvent);
    }

private:
    void Update()
    {
        const QString caption = fButton->text();
        const QFontMetrics metrics(fButton->font());
        const int room = CaptionRoom(fButton);
        const bool fits = metrics.size(Qt::TextShowMnemonic, caption).width() <= room;
        fElided.clear();
        if (!fits) {
            fElided = metrics.elidedText(caption, Qt::ElideRight, std::max(0, room), Qt::TextShowMnemonic);
            if (fElided.isEmpty())
                fElided = QString(QChar(0x2026)); // no room even for one letter: the ellipsis says so
        }
        fButton->setProperty("elidedCaption", fElided);
        // A hint set by anyone else since the last look is the button's own.
        if (fButton->toolTip() != fHintSet)
            fOwnHint = fButton->toolTip();
        QString hint = fOwnHint;
        if (!fits) {
            const QString whole = QString(caption).remove(u'&');
            hint = fOwnHint.isEmpty() ? whole : whole + u'\n' + fOwnHint;
        }
        fHintSet = hint;
        if (fButton->toolTip() != hint)
            fButton->setToolTip(hint);
    }

    void PaintElided()
    {
        QStylePainter painter(fButton);
        painter.drawControl(QStyle::CE_PushButton, ButtonOption(fButton, fElided));
    }

    QPushButton *fButton;
    QString fElided;
    QString fOwnHint;
    QString fHintSet;
};

} // namespace

void TfrQuadrel::FitButtonCaptions()
{
    for (QPushButton *button : findChildren<QPushButton *>())
        if (!button->property("elidedCaption").isValid()) // not yet watched
            new TzCaptionFit(button);
}
