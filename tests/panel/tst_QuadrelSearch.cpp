// The panel's bus search against the simulated bus (modules at 16 and 20, a device of another type
// at 24), over a pseudo-terminal and through the simulated converter: the search pictures, the
// result list and its entries are used as the operator uses them, with the mouse and the keyboard.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "panel/uBlinker.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"
#include "panel/uSearchPanel.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"
#include "sim/uSimulator.h"
#include "tests/panel/PanelTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Generous = 30000;
constexpr int PassLimit = 60000; // one whole pass at 9600 with a margin for a busy machine

QStringList Entries(QListWidget *aList)
{
    QStringList texts;
    for (int row = 0; row < aList->count(); ++row)
        texts << aList->item(row)->text();
    return texts;
}

QListWidgetItem *Entry(QListWidget *aList, const QString &aText)
{
    const auto found = aList->findItems(aText, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.front();
}

bool Shows(TzPictureLabel *aPicture, const char *aName)
{
    return aPicture->Picture() == QString::fromLatin1(aName);
}

// Addresses of the probes the simulator received, in order; any other frame counts as -1.
QList<int> ProbedAddresses(TzSimulator &aSim)
{
    QList<int> addresses;
    for (const TSimBytes &f : TestFrameLog(aSim).ReceivedFrames()) {
        const QByteArray bytes(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
        addresses << (f.size() == 8 && bytes == FindProbeFrame(f[0]).AsBytes() ? int(f[0]) : -1);
    }
    return addresses;
}

} // namespace

class TestQuadrelSearch : public TestPanelCase
{
    Q_OBJECT

public:
    TestQuadrelSearch() : TestPanelCase(Generous) {}

private slots:
    void init();
    void cleanup();

    void passesListEachModuleOnce();
    void clickTakesOverDoubleClickConnects();
    void keyboardScansAndConnects();
    void scansThroughTheConverter();
    void everySpeedAndFormatFindsAModule();
    void closingDuringAScan();

private:
    void ThreeDevices();
    void OpenSerialPage();
    QPoint EntryCentre(const QString &aText);
    // The search's controls by name, and its engine.
    QListWidget *List() const { return fPanel.Control<QListWidget>(QStringLiteral("FindListBox")); }
    QProgressBar *Progress() const { return fPanel.Control<QProgressBar>(QStringLiteral("FindProgress")); }
    QCheckBox *AllSettings() const { return fPanel.Control<QCheckBox>(QStringLiteral("chkFindAllSettings")); }
    TfrmFindDevice &Engine() const { return Frame()->findChild<TzSearchPanel *>()->Engine(); }

    QString fPath;
};

void TestQuadrelSearch::init()
{
    fPanel.StartSim(false);
    fPanel.Open();
}

void TestQuadrelSearch::cleanup()
{
    fPanel.Close();
}

void TestQuadrelSearch::ThreeDevices()
{
    QVERIFY(Sim()->Bus().AddModule(16));
    QVERIFY(Sim()->Bus().AddModule(20));
    QVERIFY(Sim()->Bus().AddForeignDevice(24, 42));
}

void TestQuadrelSearch::OpenSerialPage()
{
    fPanel.ChooseSerial();
    fPath = fPanel.Path();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
}

QPoint TestQuadrelSearch::EntryCentre(const QString &aText)
{
    QListWidgetItem *item = Entry(List(), aText);
    return item ? List()->visualItemRect(item).center() : QPoint();
}

void TestQuadrelSearch::passesListEachModuleOnce()
{
    ThreeDevices();
    OpenSerialPage();
    Control<QLineEdit>("txtLineTimeout")->setText(QStringLiteral("20"));
    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDevice"), "find_idle"));

    // The list as it stands when each new pass begins.
    QMap<int, QStringList> atPassStart;
    connect(&Engine(), &TfrmFindDevice::PassStarted, this,
            [this, &atPassStart](int aPass) { atPassStart[aPass] = Entries(List()); });
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QVERIFY(Engine().InFindProgress());

    // 20 ms is too short at 9600: the field shows the shortest allowed, flashes, and the scan uses it.
    QCOMPARE(Control<QLineEdit>("txtLineTimeout")->text(), QStringLiteral("30"));
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), Control<QLineEdit>("txtLineTimeout"));
    QCOMPARE(Engine().CurrentLine().Timeout, 30);
    QCOMPARE(Engine().ScanPort()->LocTimeouts().ReadTotalTimeoutConstant, 30);

    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDevice"), "find_busy"));
    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDeviceEth"), "find_busy"));
    for (QWidget *field :
         std::initializer_list<QWidget *>{Control<QComboBox>("cbComPort"), Control<QLineEdit>("txtLineAddr"),
                                          Control<QComboBox>("cbLineBaudRate"), Control<QComboBox>("cbLineFormat"),
                                          Control<QLineEdit>("txtLineTimeout"), AllSettings()})
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
    QVERIFY(!Control<QPushButton>("btnConnect")->isEnabled());
    // The connection panel stays open, the result panel opens beside it.
    QVERIFY(Control<QFrame>("panComPort")->isVisible());
    QVERIFY(fPanel.Control<QFrame>("panFind")->isVisible());
    QVERIFY(Progress()->isVisible());

    // Two whole passes and the start of a third.
    QTRY_VERIFY_WITH_TIMEOUT(atPassStart.contains(3), 3 * PassLimit);
    for (int pass : {2, 3}) {
        const QStringList list = atPassStart[pass];
        QVERIFY2(list.front().startsWith(QStringLiteral("[247] ")), qPrintable(list.front()));
        QCOMPARE(list.count(QStringLiteral("[16] Quadrel")), 1);
        QCOMPARE(list.count(QStringLiteral("[20] Quadrel")), 1);
        // A device of another type is listed once too, however many passes it answers in.
        QCOMPARE(list.count(QStringLiteral("[24] Unknown")), 1);
        QCOMPARE(list.size(), 1 + 2 + 1);
    }
    // The progress line starts again at 1.
    QTRY_VERIFY_WITH_TIMEOUT(List()->item(0)->text().startsWith(QStringLiteral("[1] ")), Generous);
    QCOMPARE(Progress()->value(), 1);
    QCOMPARE(Engine().CurrentLine().Timeout, 30);

    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QVERIFY(!Engine().InFindProgress());
    QVERIFY(!Engine().ScanPort());
    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDevice"), "find_idle"));
    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDeviceEth"), "find_idle"));
    QVERIFY(Control<QLineEdit>("txtLineTimeout")->isEnabled() && Control<QComboBox>("cbComPort")->isEnabled());
    QVERIFY(Control<QPushButton>("btnConnect")->isEnabled());
    QVERIFY(!Progress()->isVisible());
    // The progress line goes, the results stay.
    const QStringList results = Entries(List());
    QCOMPARE(results.filter(QRegularExpression(QStringLiteral("^\\[\\d+\\] \\.+$"))).size(), 0);
    QCOMPARE(results.count(QStringLiteral("[16] Quadrel")), 1);
    QCOMPARE(results.count(QStringLiteral("[20] Quadrel")), 1);

    // Every probe went to 1..247 in order, pass after pass: never 0, never above 247.
    const QList<int> probed = ProbedAddresses(*Sim());
    QVERIFY(probed.size() >= 2 * 247);
    for (int i = 0; i < probed.size(); ++i)
        QCOMPARE(probed[i], i % 247 + 1);
}

void TestQuadrelSearch::clickTakesOverDoubleClickConnects()
{
    ThreeDevices();
    OpenSerialPage();
    Control<QLineEdit>("txtLineTimeout")->setText(QStringLiteral("45"));
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Entry(List(), QStringLiteral("[24] Unknown")), Generous);
    QVERIFY(Entry(List(), QStringLiteral("[20] Quadrel")));

    // The page changed meanwhile; a click on a result puts the module's settings back.
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QVERIFY(!Engine().InFindProgress());
    Control<QLineEdit>("txtLineAddr")->setText(QStringLiteral("7"));
    Control<QComboBox>("cbLineBaudRate")->setCurrentText(QStringLiteral("19200"));
    Control<QComboBox>("cbLineFormat")->setCurrentIndex(3);
    Control<QLineEdit>("txtLineTimeout")->setText(QStringLiteral("99"));
    Control<QComboBox>("cbComPort")->insertItem(0, QStringLiteral("/dev/ttyS-none"));
    Control<QComboBox>("cbComPort")->setCurrentIndex(0);

    // An unidentified entry changes nothing.
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[24] Unknown")));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("7"));
    QCOMPARE(Control<QComboBox>("cbComPort")->currentText(), QStringLiteral("/dev/ttyS-none"));

    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("20"));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentIndex(), 0);
    QCOMPARE(Control<QLineEdit>("txtLineTimeout")->text(), QStringLiteral("45"));
    QCOMPARE(Control<QComboBox>("cbComPort")->currentText(), fPath);
    QCOMPARE(Frame()->LineSpeed(), 9600);

    // Scanning again, a double click ends the scan (it holds the port) and connects to module 20.
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QVERIFY(Engine().InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(List(), QStringLiteral("[20] Quadrel")), Generous);
    const QPoint at = EntryCentre(QStringLiteral("[20] Quadrel"));
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(!Engine().InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), Generous);
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsPolling(), Generous);
    QCOMPARE(Frame()->ModuleAddress(), 20);
    // The panel polls module 20: reads of the output states reach address 20.
    QTRY_VERIFY_WITH_TIMEOUT(std::ranges::any_of(fPanel.FrameLog().ReceivedFrames(),
                                                 [](const TSimBytes &f) {
                                                     return f.size() == 8 && f[0] == 20 && f[1] == 3 && f[2] == 0xEA
                                                            && f[3] == 0x70; // 60016
                                                 }),
                             Generous);

    // While connected the search picture does nothing.
    Control<TzPictureLabel>("imgFindDevice")->Click();
    QVERIFY(!Engine().InFindProgress());
    // Disconnecting leaves the search idle.
    fPanel.ClickConnect();
    QVERIFY(!fPanel.IsConnected());
    QVERIFY(!Engine().InFindProgress());
}

void TestQuadrelSearch::keyboardScansAndConnects()
{
    ThreeDevices();
    OpenSerialPage();
    Control<TzPictureLabel>("imgFindDevice")->setFocus();
    QTRY_VERIFY(Control<TzPictureLabel>("imgFindDevice")->hasFocus());
    QTest::keyClick(Control<TzPictureLabel>("imgFindDevice"), Qt::Key_Space);
    QVERIFY(Engine().InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(List(), QStringLiteral("[24] Unknown")), Generous);
    QTest::keyClick(Control<TzPictureLabel>("imgFindDevice"), Qt::Key_Return);
    QVERIFY(!Engine().InFindProgress());

    // Entries now: [16] Quadrel, [20] Quadrel, [24] Unknown. Arrow keys take a result over.
    Control<QLineEdit>("txtLineAddr")->setText(QStringLiteral("3"));
    List()->setFocus();
    List()->setCurrentRow(2);
    QTest::keyClick(List(), Qt::Key_Up);
    QCOMPARE(List()->currentItem()->text(), QStringLiteral("[20] Quadrel"));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("20"));
    QTest::keyClick(List(), Qt::Key_Up);
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    QTest::keyClick(List(), Qt::Key_Enter);
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), Generous);
    QCOMPARE(Frame()->ModuleAddress(), 16);
}

void TestQuadrelSearch::scansThroughTheConverter()
{
    ThreeDevices();
    QTest::mouseClick(Control<QPushButton>("btnComPort"), Qt::LeftButton);
    fPanel.ChooseConverter();
    Control<QLineEdit>("txtEthernetTimeout")->setText(QStringLiteral("50"));
    Control<QLineEdit>("txtLineAddrEth")->setText(QStringLiteral("1"));

    QTest::mouseClick(Control<TzPictureLabel>("imgFindDeviceEth"), Qt::LeftButton);
    QVERIFY(Engine().InFindProgress());
    // The scan goes on with the converter it started with: its fields take no edits meanwhile.
    const QList<QLineEdit *> ethernetFields{Control<QLineEdit>("txtEthernetAddr"),
                                            Control<QLineEdit>("txtEthernetPort"),
                                            Control<QLineEdit>("txtEthernetTimeout"),
                                            Control<QLineEdit>("txtLineAddrEth")};
    for (QLineEdit *field : ethernetFields) {
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
        const QString before = field->text();
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClicks(field, QStringLiteral("9"));
        QCOMPARE(field->text(), before);
    }
    QVERIFY(!Control<QComboBox>("cbLineFormatEth")->isEnabled());
    QCOMPARE(EthernetPort, int(fPanel.UdpPort()));
    QVERIFY(Engine().ScanPort()->ByEthernet());
    QVERIFY(Engine().ScanPort()->ByEthernetFinding());
    QVERIFY(Shows(Control<TzPictureLabel>("imgFindDevice"), "find_busy"));
    QTRY_VERIFY_WITH_TIMEOUT(Entry(List(), QStringLiteral("[24] Unknown")), Generous);
    QVERIFY(Entry(List(), QStringLiteral("[16] Quadrel")));
    QVERIFY(Entry(List(), QStringLiteral("[20] Quadrel")));
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDeviceEth"), Qt::LeftButton);
    QVERIFY(!Engine().InFindProgress());
    for (QLineEdit *field : ethernetFields)
        QVERIFY2(field->isEnabled(), qPrintable(field->objectName()));

    const auto entries = fPanel.FrameLog().Entries();
    QVERIFY(!entries.empty());
    QVERIFY(std::ranges::all_of(entries, [](const TzSimFrameLogEntry &e) { return e.Channel.rfind("udp", 0) == 0; }));
    const QList<int> probed = ProbedAddresses(*Sim());
    for (int i = 0; i < probed.size(); ++i)
        QCOMPARE(probed[i], i + 1);

    // A result found through the converter gives the Ethernet page its address; a double click
    // connects through the converter.
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QCOMPARE(Control<QLineEdit>("txtLineAddrEth")->text(), QStringLiteral("20"));
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.IsConnected(), Generous);
    QCOMPARE(Frame()->ModuleAddress(), 20);
}

void TestQuadrelSearch::everySpeedAndFormatFindsAModule()
{
    // One module, set to 19200 8E1.
    QVERIFY(Sim()->Bus().AddModule(16));
    Sim()->Bus().WithModule(16, [](TzSimModule &aModule, uint64_t aNow) {
        QCOMPARE(aModule.WriteRegister(TzSimModule::RegSpeed, 5, aNow), 0);
        QCOMPARE(aModule.WriteRegister(TzSimModule::RegFormat, 6, aNow), 0);
        aModule.Restart(aNow);
    });
    OpenSerialPage();
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentIndex(), 0);
    Control<QLineEdit>("txtLineTimeout")->setText(QStringLiteral("30"));
    QVERIFY(!AllSettings()->isChecked());
    QTest::mouseClick(AllSettings(), Qt::LeftButton, {}, QPoint(5, AllSettings()->height() / 2));
    QVERIFY(AllSettings()->isChecked());

    // A pty carries the speed but no parity bit: the simulator hears the speed itself, and the
    // module stays silent under the other formats here, as it would on a real line.
    QList<QPair<int, int>> passes;
    connect(&Engine(), &TfrmFindDevice::PassStarted, this, [this, &passes](int, int aSpeed, int aFormat) {
        passes << qMakePair(aSpeed, aFormat);
        Sim()->Faults().SetSilent(aFormat != 2);
    });
    QString progressWhenFound;
    connect(List()->model(), &QAbstractItemModel::rowsInserted, this, [this, &progressWhenFound] {
        if (List()->count() > 1 && progressWhenFound.isEmpty())
            progressWhenFound = List()->item(0)->text();
    });
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QVERIFY(Engine().InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(List(), QStringLiteral("[16] Quadrel")), 20 * PassLimit);
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);

    QVERIFY2(progressWhenFound.startsWith(QStringLiteral("[16] 19200, RTU 8E1 .")), qPrintable(progressWhenFound));
    // In turn from the page's own settings: the formats at 9600, then on at 14400 where the port
    // takes that speed, then 19200.
    QList<QPair<int, int>> expected{{9600, 0}, {9600, 1}, {9600, 2}, {9600, 3}};
    if (passes.size() > 4 && passes[4].first == 14400)
        expected << QPair<int, int>{14400, 0} << QPair<int, int>{14400, 1} << QPair<int, int>{14400, 2}
                 << QPair<int, int>{14400, 3};
    expected << QPair<int, int>{19200, 0} << QPair<int, int>{19200, 1} << QPair<int, int>{19200, 2};
    QCOMPARE(passes, expected);

    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[16] Quadrel")));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentText(), QStringLiteral("19200"));
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentText(), QStringLiteral("MODBUS RTU 8E1"));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    QCOMPARE(Control<QLineEdit>("txtLineTimeout")->text(), QStringLiteral("30"));
    QCOMPARE(Frame()->LineSpeed(), 19200);
}

void TestQuadrelSearch::closingDuringAScan()
{
    ThreeDevices();
    OpenSerialPage();
    QTest::mouseClick(Control<TzPictureLabel>("imgFindDevice"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Progress()->value() >= 5, Generous);
    QElapsedTimer closing;
    closing.start();
    fPanel.DeleteFrame();
    const qint64 ms = closing.elapsed();
    qInfo("closing during a scan took %lld ms", ms);
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    // Nothing is left holding the port, and outcomes still posted find nobody to call.
    TzFreePort next(fPath);
    QVERIFY(next.Start());
    next.Stop();
    const size_t frames = fPanel.FrameLog().EntryCount();
    QTest::qWait(300);
    QCOMPARE(fPanel.FrameLog().EntryCount(), frames);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelSearch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelSearch.moc"
