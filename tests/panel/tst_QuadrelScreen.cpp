// What the operator and assistive technology read on the panel: the lines that name a busy port
// or converter, the value labels, the result panel's title, the captions of the buttons at any
// font size, and the descriptions of the outputs as they are pasted, shown and saved.

#include "app/uApplication.h"
#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uBlinker.h"
#include "panel/uDeviceSettingsPanel.h"
#include "panel/uPictureLabel.h"
#include "panel/uProjectFile.h"
#include "panel/uProjectKeeper.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSearchPanel.h"
#include "panel/uSequencePanel.h"
#include "search/uFindDevice.h"
#include "tests/panel/PanelTestKit.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A UDP port held on the wildcard address by another program (no address sharing), as a
// converter's local port that is taken; closed with the object.
class TzHeldUdpPort
{
public:
    TzHeldUdpPort()
    {
        fSocket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t length = sizeof address;
        if (fSocket >= 0 && bind(fSocket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && getsockname(fSocket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            fPort = ntohs(address.sin_port);
    }
    ~TzHeldUdpPort()
    {
        if (fSocket >= 0)
            close(fSocket);
    }
    uint16_t Port() const { return fPort; }

private:
    int fSocket = -1;
    uint16_t fPort = 0;
};

// The in-place editor of a description, while one is open.
TzDescriptionEdit *OpenEditor(TzRelayGrid *aGrid)
{
    for (TzDescriptionEdit *editor : aGrid->viewport()->findChildren<TzDescriptionEdit *>())
        if (editor->isVisible())
            return editor;
    return nullptr;
}

// The room a push button leaves its caption: the rectangle its style draws the label in, less
// the icon with its gap.
int CaptionRoom(const QPushButton *aButton)
{
    QStyleOptionButton option;
    option.initFrom(aButton);
    option.text = aButton->text();
    option.icon = aButton->icon();
    option.iconSize = aButton->iconSize();
    if (aButton->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    int room = aButton->style()->subElementRect(QStyle::SE_PushButtonContents, &option, aButton).width();
    if (!aButton->icon().isNull())
        room -= aButton->iconSize().width() + 4;
    return room;
}

} // namespace

class TestQuadrelScreen : public TestPanelCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void busyConverterPortNamesTheConverter();
    void refreshedPortListNamesThePortOpened();
    void valueLabelsAreReadWithTheirValue_data();
    void valueLabelsAreReadWithTheirValue();
    void searchPanelHasItsTitle();
    void captionsFitOrAreElidedWithTheirHint_data();
    void captionsFitOrAreElidedWithTheirHint();
    void pastedDescriptionIsWhatIsSaved_data();
    void pastedDescriptionIsWhatIsSaved();
    void descriptionCutAtTheLimitFlashes();

private:
    // Opens the description editor of an output with a click, as the operator does.
    TzDescriptionEdit *EditDescription(int aOutput);
};

void TestQuadrelScreen::init()
{
    TestMode = false;
    fPanel.CreateFrame({.Silent = true}); // notices become log lines
}

void TestQuadrelScreen::cleanup()
{
    fPanel.Close();
    TestMode = false;
}

TzDescriptionEdit *TestQuadrelScreen::EditDescription(int aOutput)
{
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    const int col = aOutput <= 10 ? 2 : 5;
    const QPoint at = grid->visualItemRect(grid->item((aOutput - 1) % 10, col)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    return OpenEditor(grid);
}

void TestQuadrelScreen::busyConverterPortNamesTheConverter()
{
    fPanel.Show();
    const TzHeldUdpPort held;
    QVERIFY(held.Port() != 0);
    const QString busy = QStringLiteral("127.0.0.2:%1 занят или недоступен").arg(held.Port());
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    Control<QLineEdit>("txtEthernetAddr")->setText(QStringLiteral("127.0.0.2"));
    Control<QLineEdit>("txtEthernetPort")->setText(QString::number(held.Port()));

    // Connecting: the converter is named, not the serial port of the other page.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY2(Log()->Lines().contains(busy), qPrintable(Log()->Lines().join(" | ")));
    QCOMPARE(Log()->LineColor(int(Log()->Lines().indexOf(busy))), LogMaroon);
    QVERIFY(!Log()->Lines().contains(Frame()->PortCaption() + QStringLiteral(" занят или недоступен")));
    QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnConnect")->isEnabled(), 10000);

    // Searching through the same converter.
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDeviceEth"), Qt::LeftButton);
    QVERIFY(!Frame()->findChild<TzSearchPanel *>()->Engine().InFindProgress());
    QCOMPARE(Log()->Lines().count(busy), 2);
    QCOMPARE(Log()->Lines().front(), busy);
    QVERIFY(Control<QLineEdit>("txtEthernetPort")->isEnabled()); // the failed start gave the fields back
}

void TestQuadrelScreen::refreshedPortListNamesThePortOpened()
{
    fPanel.Show();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    Frame()->AddPortOnTop(QStringLiteral("/dev/quadrel-gone77"));
    QCOMPARE(Frame()->ComPortNumber(), 77);

    // The refreshed list selects its first port: that one is taken over, number included.
    QTest::mouseClick(Control<TzPictureLabel>("imgRefreshPortList"), Qt::LeftButton);
    const QString selected = Control<QComboBox>("cbComPort")->currentText();
    QVERIFY(selected != QStringLiteral("/dev/quadrel-gone77"));
    int number = -1;
    if (ExtractDigitsToInt(selected, number))
        QCOMPARE(Frame()->ComPortNumber(), number);
    QCOMPARE(Frame()->PortCaption(), selected);

    // A list of Windows names, filled with its signals held back as the refresh fills it: the
    // lines of the next attempt name the port it opens, not the one selected before.
    Frame()->AddPortOnTop(QStringLiteral("COM7"));
    QCOMPARE(Frame()->ComPortNumber(), 7);
    {
        const QSignalBlocker quiet(Control<QComboBox>("cbComPort"));
        Control<QComboBox>("cbComPort")->clear();
        Control<QComboBox>("cbComPort")->addItems({QStringLiteral("COM1"), QStringLiteral("COM4")});
        Control<QComboBox>("cbComPort")->setCurrentIndex(0);
    }
    QCOMPARE(Frame()->PortCaption(), QStringLiteral("COM1"));
    fPanel.ClickConnect();
    QVERIFY2(Log()->Lines().contains(QStringLiteral("COM1 занят или недоступен")),
             qPrintable(Log()->Lines().join(" | ")));
    QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().front().startsWith(QStringLiteral("Неудачное подключение: [Адр:16, COM1,")),
                             10000);
    QVERIFY(!Log()->Lines().join('\n').contains(QStringLiteral("COM7")));
}

void TestQuadrelScreen::valueLabelsAreReadWithTheirValue_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("value"); // empty: the value the panel itself shows
    QTest::newRow("identifier") << "txtMAC" << "Идентификатор" << "";
    QTest::newRow("address") << "labAddr" << "Адрес" << "247";
    QTest::newRow("speed") << "labBaudRate" << "Скорость" << "115200";
    QTest::newRow("format") << "labFormat" << "Формат" << "RTU 8E1";
    QTest::newRow("firmware") << "labVerPO" << "Версия ПО" << "1.286";
    QTest::newRow("supply") << "labPower1" << "Питание" << "24.58 В";
    QTest::newRow("queue") << "labTest" << "Очередь" << "3";
    QTest::newRow("date") << "labDate" << "Дата" << "11.12.2026";
    QTest::newRow("time") << "labTime" << "Время" << "03:20:31";
    QTest::newRow("sequence step") << "labSnakeSpeed" << "Скорость" << "";
}

void TestQuadrelScreen::valueLabelsAreReadWithTheirValue()
{
    QFETCH(QString, label);
    QFETCH(QString, caption);
    QFETCH(QString, value);
    auto *shown = Frame()->findChild<QLabel *>(label);
    QVERIFY(shown);
    if (label == QStringLiteral("txtMAC")) {
        Frame()->DeviceSettings().SetMAC(QByteArray("\x01\x02\x03\x0A\x0B\x0C", 6));
        value = QStringLiteral("01-02-03-0A-0B-0C");
    } else if (label == QStringLiteral("labSnakeSpeed")) {
        Control<QScrollBar>("SnakeSpeedScroll")->setValue(700);
        value = QString::number(Frame()->Sequences().StepTime());
    } else {
        shown->setText(value);
    }
    QVERIFY(shown->text().contains(value));

    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(shown);
    QVERIFY(read);
    const QString name = read->text(QAccessible::Name);
    const QString said = name + u'|' + read->text(QAccessible::Value) + u'|' + read->text(QAccessible::Description);
    QVERIFY2(said.contains(value), qPrintable(said));
    QVERIFY2(name.contains(caption), qPrintable(name));
}

void TestQuadrelScreen::searchPanelHasItsTitle()
{
    fPanel.Show();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    auto *results = fPanel.Control<QFrame>(QStringLiteral("panFind"));
    results->show();
    QLabel *title = nullptr;
    for (QLabel *label : results->findChildren<QLabel *>())
        if (label->text() == QStringLiteral("Устройства"))
            title = label;
    QVERIFY(title);
    QTRY_VERIFY(title->isVisible());
    QVERIFY(title->geometry().bottom() <= fPanel.Control<QListWidget>(QStringLiteral("FindListBox"))->geometry().top());
}

void TestQuadrelScreen::captionsFitOrAreElidedWithTheirHint_data()
{
    QTest::addColumn<int>("pointSize"); // 0: the default font
    QTest::addColumn<bool>("someElided");
    QTest::newRow("default font") << 0 << false;
    QTest::newRow("8 pt, as the main window") << 8 << false;
    QTest::newRow("16 pt") << 16 << true;
}

void TestQuadrelScreen::captionsFitOrAreElidedWithTheirHint()
{
    QFETCH(int, pointSize);
    QFETCH(bool, someElided);
    TestMode = true; // the test features and their buttons are shown
    const QFont ownFont = QApplication::font();
    auto restoreFont = qScopeGuard([ownFont] { QApplication::setFont(ownFont); });
    if (pointSize > 0) {
        // The panel built under that font, as the system or the main window gives it.
        fPanel.DeleteFrame();
        QFont font = ownFont;
        font.setPointSize(pointSize);
        QApplication::setFont(font);
        fPanel.CreateFrame({.Silent = true});
    }
    fPanel.Show();
    RefreshScreen();
    for (QWidget *panel : std::initializer_list<QWidget *>{Control<QFrame>("panComPort"), Control<QFrame>("panFind"),
                                                           Control<QFrame>("panRS485"), Control<QFrame>("panDOUT"),
                                                           Control<QFrame>("panShim"), Control<QFrame>("panSnake"),
                                                           Control<QFrame>("panProxy"), Control<QFrame>("panAutorun")})
        panel->show();
    QCoreApplication::processEvents();

    const QList<QPushButton *> buttons = Frame()->findChildren<QPushButton *>();
    QVERIFY(buttons.size() > 30);
    int elided = 0;
    for (QPushButton *button : buttons) {
        const QString caption = button->text();
        const QFontMetrics metrics(button->font());
        const int room = CaptionRoom(button);
        const QString what = button->objectName() + QStringLiteral(": ") + caption;
        if (metrics.size(Qt::TextShowMnemonic, caption).width() <= room)
            continue;
        ++elided;
        QVERIFY2(button->toolTip().contains(QString(caption).remove(u'&')), qPrintable(what));
        const QString drawn = button->property("elidedCaption").toString();
        QVERIFY2(drawn.endsWith(QChar(0x2026)), qPrintable(what + QStringLiteral(" drawn as ") + drawn));
        QVERIFY2(metrics.size(Qt::TextShowMnemonic, drawn).width() <= room || drawn == QChar(0x2026), qPrintable(what));
        // What assistive technology reads stays the whole caption.
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), QString(caption).remove(u'&'));
        button->grab(); // drawn elided
    }
    if (someElided)
        QVERIFY(elided > 0);

    // A caption that changes to a longer one gets its hint; back to a short one, loses it again.
    Control<QPushButton>("btnPortObserver")->setToolTip(QStringLiteral("Запросы и ответы на линии"));
    Control<QPushButton>("btnPortObserver")->show();
    const QString longer = QStringLiteral("Монитор обмена с модулем по линии RS-485 через преобразователь");
    Control<QPushButton>("btnPortObserver")->setText(longer);
    Control<QPushButton>("btnPortObserver")->grab();
    QVERIFY(Control<QPushButton>("btnPortObserver")->toolTip().startsWith(longer));
    QVERIFY(Control<QPushButton>("btnPortObserver")->toolTip().endsWith(QStringLiteral("Запросы и ответы на линии")));
    Control<QPushButton>("btnPortObserver")->setText(QStringLiteral("Монитор"));
    Control<QPushButton>("btnPortObserver")->grab();
    QCOMPARE(Control<QPushButton>("btnPortObserver")->toolTip(), QStringLiteral("Запросы и ответы на линии"));
    QVERIFY(Control<QPushButton>("btnPortObserver")->property("elidedCaption").toString().isEmpty());
}

void TestQuadrelScreen::pastedDescriptionIsWhatIsSaved_data()
{
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");
    QTest::newRow("control characters") << QStringLiteral("Насос\x01\x02 1\x1B\x7F") << QStringLiteral("Насос 1");
    QTest::newRow("line breaks and tabs")
        << QStringLiteral("Насос\r\nцех 2\tлиния\n3") << QStringLiteral("Насос цех 2 линия 3");
    QTest::newRow("half of a pair") << QStringLiteral("Клапан ") + QChar(0xD83D) + QStringLiteral("5")
                                    << QStringLiteral("Клапан 5");
    QTest::newRow("no characters") << QStringLiteral("Вент") + QChar(0xFFFE) + QChar(0xFFFF) + QStringLiteral("иль")
                                   << QStringLiteral("Вентиль");
    QTest::newRow("a whole pair stays") << QStringLiteral("Лампа \U0001F4A1 2") << QStringLiteral("Лампа \U0001F4A1 2");
    QTest::newRow("plain text") << QStringLiteral("Сирена <двор> & \"ворота\"")
                                << QStringLiteral("Сирена <двор> & \"ворота\"");
}

void TestQuadrelScreen::pastedDescriptionIsWhatIsSaved()
{
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    fPanel.Show();
    TzDescriptionEdit *editor = EditDescription(13);
    QVERIFY(editor);
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(editor->text(), kept);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(Control<TzRelayGrid>("SG_Relays")->Description(13), kept);
    QVERIFY(fPanel.Control<QTimer>(QStringLiteral("ProjSaveTimer"))->isActive());

    // What the grid shows is what the file holds.
    TzProjectKeeper *project = Frame()->findChild<TzProjectKeeper *>();
    QVERIFY(project->Save(project->Path()));
    TzStoredHints stored;
    QVERIFY(ReadProjectFile(project->Path(), stored));
    QVERIFY(stored[12].has_value());
    QCOMPARE(*stored[12], Control<TzRelayGrid>("SG_Relays")->Description(13));
}

void TestQuadrelScreen::descriptionCutAtTheLimitFlashes()
{
    fPanel.Show();
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");

    // A paste far over the limit (and over the line edit's own) keeps the limit, and flashes.
    TzDescriptionEdit *editor = EditDescription(1);
    QVERIFY(editor);
    const QString huge = QString(40000, u'ж');
    QGuiApplication::clipboard()->setText(huge);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(editor->text(), huge.left(DescriptionMaxLength));
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), editor);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(grid->Description(1), huge.left(DescriptionMaxLength));
    QTRY_VERIFY(!TBlinkTimerObj::Instance()->Flashing());

    // Pasted into the middle: the text there stays, the paste is cut where it goes over.
    grid->SetDescription(2, QString(DescriptionMaxLength - 5, u'a'));
    editor = EditDescription(2);
    QVERIFY(editor);
    editor->setCursorPosition(10);
    QGuiApplication::clipboard()->setText(QStringLiteral("0123456789"));
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(editor->text(), QString(10, u'a') + QStringLiteral("01234") + QString(DescriptionMaxLength - 15, u'a'));
    QCOMPARE(editor->cursorPosition(), 15);
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), editor);
    QTRY_VERIFY(!TBlinkTimerObj::Instance()->Flashing());
    // A key typed at the limit is refused the same way.
    QTest::keyClick(editor, Qt::Key_Z);
    QCOMPARE(editor->text().size(), DescriptionMaxLength);
    QVERIFY(!editor->text().contains(u'z'));
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), editor);
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!TBlinkTimerObj::Instance()->Flashing());

    // A cut never leaves half of a character made of two.
    grid->SetDescription(3, QString(DescriptionMaxLength - 1, u'b'));
    editor = EditDescription(3);
    QVERIFY(editor);
    editor->end(false);
    QGuiApplication::clipboard()->setText(QStringLiteral("\U0001F4A1\U0001F4A1"));
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(editor->text(), QString(DescriptionMaxLength - 1, u'b'));
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!TBlinkTimerObj::Instance()->Flashing());

    // A longer description from an older project file stays whole while it is edited shorter.
    const QString older = QString(DescriptionMaxLength + 20, u'c');
    grid->SetDescription(4, older);
    editor = EditDescription(4);
    QVERIFY(editor);
    QCOMPARE(editor->text(), older);
    editor->end(false);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(editor->text(), older.chopped(1));
    QVERIFY(!TBlinkTimerObj::Instance()->Flashing());
    QTest::keyClick(editor, Qt::Key_D); // growing it again is refused
    QCOMPARE(editor->text(), older.chopped(1));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(grid->Description(4), older.chopped(1));
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelScreen test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelScreen.moc"
