// The panel's bus search against the simulated bus (modules at 16 and 20, a device of another type
// at 24), over a pseudo-terminal and through the simulated converter: the search pictures, the
// result list and its entries are used as the operator uses them, with the mouse and the keyboard.

#include "app/uApplication.h"
#include "diagnostics/uTempLog.h"
#include "panel/uBlinker.h"
#include "panel/uPictureLabel.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"
#include "panel/uQuadrelSearch.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"
#include "sim/uSimulator.h"
#include "tests/TestSettings.h"
#include "tests/TestUdpPort.h"

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
    for (const TSimBytes &f : aSim.Log().Frames(TzSimDirection::Received)) {
        const QByteArray bytes(reinterpret_cast<const char *>(f.data()), qsizetype(f.size()));
        addresses << (f.size() == 8 && bytes == FindProbeFrame(f[0]).AsBytes() ? int(f[0]) : -1);
    }
    return addresses;
}

} // namespace

class TestQuadrelSearch : public QObject
{
    Q_OBJECT

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

    std::unique_ptr<TzSimulator> fSim;
    TfrmTempLog *fLog = nullptr;
    TfrQuadrel *fFrame = nullptr;
    QString fPath;
};

void TestQuadrelSearch::init()
{
    fSim = std::make_unique<TzSimulator>();
    fLog = new TfrmTempLog;
    fFrame = new TfrQuadrel;
    fFrame->resize(800, 750);
    fFrame->show();
    QVERIFY(QTest::qWaitForWindowExposed(fFrame));
}

void TestQuadrelSearch::cleanup()
{
    delete fFrame;
    delete fLog;
    fSim.reset();
    fFrame = nullptr;
    fLog = nullptr;
    // What this test saved must not change how the next one's panel starts.
    ClearTestSettings();
}

void TestQuadrelSearch::ThreeDevices()
{
    QVERIFY(fSim->Bus().AddModule(16));
    QVERIFY(fSim->Bus().AddModule(20));
    QVERIFY(fSim->Bus().AddForeignDevice(24, 42));
}

void TestQuadrelSearch::OpenSerialPage()
{
    fPath = QString::fromStdString(fSim->StartPty());
    QVERIFY2(!fPath.isEmpty(), fSim->Serial().LastError().c_str());
    fFrame->AddPortOnTop(fPath);
    QTest::mouseClick(fFrame->btnComPort, Qt::LeftButton);
    QVERIFY(fFrame->panComPort->isVisible());
}

QPoint TestQuadrelSearch::EntryCentre(const QString &aText)
{
    QListWidgetItem *item = Entry(fFrame->FindListBox, aText);
    return item ? fFrame->FindListBox->visualItemRect(item).center() : QPoint();
}

void TestQuadrelSearch::passesListEachModuleOnce()
{
    ThreeDevices();
    OpenSerialPage();
    fFrame->txtLineTimeout->setText(QStringLiteral("20"));
    QVERIFY(Shows(fFrame->imgFindDevice, "find_idle"));

    // The list as it stands when each new pass begins.
    QMap<int, QStringList> atPassStart;
    connect(fFrame->FindDevice.get(), &TfrmFindDevice::PassStarted, this,
            [this, &atPassStart](int aPass) { atPassStart[aPass] = Entries(fFrame->FindListBox); });
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QVERIFY(fFrame->FindDevice->InFindProgress());

    // 20 ms is too short at 9600: the field shows the shortest allowed, flashes, and the scan uses it.
    QCOMPARE(fFrame->txtLineTimeout->text(), QStringLiteral("30"));
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), fFrame->txtLineTimeout);
    QCOMPARE(fFrame->FindDevice->CurrentLine().Timeout, 30);
    QCOMPARE(fFrame->FindDevice->ScanPort()->LocTimeouts().ReadTotalTimeoutConstant, 30);

    QVERIFY(Shows(fFrame->imgFindDevice, "find_busy"));
    QVERIFY(Shows(fFrame->imgFindDeviceEth, "find_busy"));
    for (QWidget *field : std::initializer_list<QWidget *>{fFrame->cbComPort, fFrame->txtLineAddr, fFrame->cbLineBaudRate,
                                                           fFrame->cbLineFormat, fFrame->txtLineTimeout,
                                                           fFrame->chkFindAllSettings})
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
    QVERIFY(!fFrame->btnConnect->isEnabled());
    // The connection panel stays open, the result panel opens beside it.
    QVERIFY(fFrame->panComPort->isVisible());
    QVERIFY(fFrame->panFind->isVisible());
    QVERIFY(fFrame->FindProgress->isVisible());

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
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->FindListBox->item(0)->text().startsWith(QStringLiteral("[1] ")), Generous);
    QCOMPARE(fFrame->FindProgress->value(), 1);
    QCOMPARE(fFrame->FindDevice->CurrentLine().Timeout, 30);

    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QVERIFY(!fFrame->FindDevice->InFindProgress());
    QVERIFY(!fFrame->FindDevice->ScanPort());
    QVERIFY(Shows(fFrame->imgFindDevice, "find_idle"));
    QVERIFY(Shows(fFrame->imgFindDeviceEth, "find_idle"));
    QVERIFY(fFrame->txtLineTimeout->isEnabled() && fFrame->cbComPort->isEnabled());
    QVERIFY(fFrame->btnConnect->isEnabled());
    QVERIFY(!fFrame->FindProgress->isVisible());
    // The progress line goes, the results stay.
    const QStringList results = Entries(fFrame->FindListBox);
    QCOMPARE(results.filter(QRegularExpression(QStringLiteral("^\\[\\d+\\] \\.+$"))).size(), 0);
    QCOMPARE(results.count(QStringLiteral("[16] Quadrel")), 1);
    QCOMPARE(results.count(QStringLiteral("[20] Quadrel")), 1);

    // Every probe went to 1..247 in order, pass after pass: never 0, never above 247.
    const QList<int> probed = ProbedAddresses(*fSim);
    QVERIFY(probed.size() >= 2 * 247);
    for (int i = 0; i < probed.size(); ++i)
        QCOMPARE(probed[i], i % 247 + 1);
}

void TestQuadrelSearch::clickTakesOverDoubleClickConnects()
{
    ThreeDevices();
    OpenSerialPage();
    fFrame->txtLineTimeout->setText(QStringLiteral("45"));
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Entry(fFrame->FindListBox, QStringLiteral("[24] Unknown")), Generous);
    QVERIFY(Entry(fFrame->FindListBox, QStringLiteral("[20] Quadrel")));

    // The page changed meanwhile; a click on a result puts the module's settings back.
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QVERIFY(!fFrame->FindDevice->InFindProgress());
    fFrame->txtLineAddr->setText(QStringLiteral("7"));
    fFrame->cbLineBaudRate->setCurrentText(QStringLiteral("19200"));
    fFrame->cbLineFormat->setCurrentIndex(3);
    fFrame->txtLineTimeout->setText(QStringLiteral("99"));
    fFrame->cbComPort->insertItem(0, QStringLiteral("/dev/ttyS-none"));
    fFrame->cbComPort->setCurrentIndex(0);

    // An unidentified entry changes nothing.
    QTest::mouseClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[24] Unknown")));
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("7"));
    QCOMPARE(fFrame->cbComPort->currentText(), QStringLiteral("/dev/ttyS-none"));

    QTest::mouseClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("20"));
    QCOMPARE(fFrame->cbLineBaudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(fFrame->cbLineFormat->currentIndex(), 0);
    QCOMPARE(fFrame->txtLineTimeout->text(), QStringLiteral("45"));
    QCOMPARE(fFrame->cbComPort->currentText(), fPath);
    QCOMPARE(fFrame->BaudRate, 9600);

    // Scanning again, a double click ends the scan (it holds the port) and connects to module 20.
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QVERIFY(fFrame->FindDevice->InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(fFrame->FindListBox, QStringLiteral("[20] Quadrel")), Generous);
    const QPoint at = EntryCentre(QStringLiteral("[20] Quadrel"));
    QTest::mouseClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(!fFrame->FindDevice->InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected, Generous);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Link()->Polling(), Generous);
    QCOMPARE(fFrame->DevAddr, 20);
    // The panel polls module 20: reads of the output states reach address 20.
    QTRY_VERIFY_WITH_TIMEOUT(std::ranges::any_of(fSim->Log().Frames(TzSimDirection::Received),
                                                 [](const TSimBytes &f) {
                                                     return f.size() == 8 && f[0] == 20 && f[1] == 3 && f[2] == 0xEA
                                                            && f[3] == 0x70; // 60016
                                                 }),
                             Generous);

    // While connected the search picture does nothing.
    fFrame->imgFindDeviceClick();
    QVERIFY(!fFrame->FindDevice->InFindProgress());
    // Disconnecting leaves the search idle.
    QTest::mouseClick(fFrame->btnConnect, Qt::LeftButton);
    QVERIFY(!fFrame->Connected);
    QVERIFY(!fFrame->FindDevice->InFindProgress());
}

void TestQuadrelSearch::keyboardScansAndConnects()
{
    ThreeDevices();
    OpenSerialPage();
    fFrame->imgFindDevice->setFocus();
    QTRY_VERIFY(fFrame->imgFindDevice->hasFocus());
    QTest::keyClick(fFrame->imgFindDevice, Qt::Key_Space);
    QVERIFY(fFrame->FindDevice->InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(fFrame->FindListBox, QStringLiteral("[24] Unknown")), Generous);
    QTest::keyClick(fFrame->imgFindDevice, Qt::Key_Return);
    QVERIFY(!fFrame->FindDevice->InFindProgress());

    // Entries now: [16] Quadrel, [20] Quadrel, [24] Unknown. Arrow keys take a result over.
    fFrame->txtLineAddr->setText(QStringLiteral("3"));
    fFrame->FindListBox->setFocus();
    fFrame->FindListBox->setCurrentRow(2);
    QTest::keyClick(fFrame->FindListBox, Qt::Key_Up);
    QCOMPARE(fFrame->FindListBox->currentItem()->text(), QStringLiteral("[20] Quadrel"));
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("20"));
    QTest::keyClick(fFrame->FindListBox, Qt::Key_Up);
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("16"));
    QTest::keyClick(fFrame->FindListBox, Qt::Key_Enter);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected, Generous);
    QCOMPARE(fFrame->DevAddr, 16);
}

void TestQuadrelSearch::scansThroughTheConverter()
{
    ThreeDevices();
    const uint16_t port = FreeUdpPort("127.0.0.2");
    QVERIFY(port != 0);
    QVERIFY(fSim->StartUdp("127.0.0.2", port));
    QTest::mouseClick(fFrame->btnComPort, Qt::LeftButton);
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    fFrame->txtEthernetAddr->setText(QStringLiteral("127.0.0.2"));
    fFrame->txtEthernetPort->setText(QString::number(port));
    fFrame->txtEthernetTimeout->setText(QStringLiteral("50"));
    fFrame->txtLineAddrEth->setText(QStringLiteral("1"));

    QTest::mouseClick(fFrame->imgFindDeviceEth, Qt::LeftButton);
    QVERIFY(fFrame->FindDevice->InFindProgress());
    // The scan goes on with the converter it started with: its fields take no edits meanwhile.
    const QList<QLineEdit *> ethernetFields{fFrame->txtEthernetAddr, fFrame->txtEthernetPort,
                                            fFrame->txtEthernetTimeout, fFrame->txtLineAddrEth};
    for (QLineEdit *field : ethernetFields) {
        QVERIFY2(!field->isEnabled(), qPrintable(field->objectName()));
        const QString before = field->text();
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClicks(field, QStringLiteral("9"));
        QCOMPARE(field->text(), before);
    }
    QVERIFY(!fFrame->cbLineFormatEth->isEnabled());
    QCOMPARE(EthernetPort, int(port));
    QVERIFY(fFrame->FindDevice->ScanPort()->ByEthernet());
    QVERIFY(fFrame->FindDevice->ScanPort()->ByEthernetFinding());
    QVERIFY(Shows(fFrame->imgFindDevice, "find_busy"));
    QTRY_VERIFY_WITH_TIMEOUT(Entry(fFrame->FindListBox, QStringLiteral("[24] Unknown")), Generous);
    QVERIFY(Entry(fFrame->FindListBox, QStringLiteral("[16] Quadrel")));
    QVERIFY(Entry(fFrame->FindListBox, QStringLiteral("[20] Quadrel")));
    QTest::mouseClick(fFrame->imgFindDeviceEth, Qt::LeftButton);
    QVERIFY(!fFrame->FindDevice->InFindProgress());
    for (QLineEdit *field : ethernetFields)
        QVERIFY2(field->isEnabled(), qPrintable(field->objectName()));

    const auto entries = fSim->Log().Entries();
    QVERIFY(!entries.empty());
    QVERIFY(std::ranges::all_of(entries, [](const TzSimFrameLogEntry &e) { return e.Channel.rfind("udp", 0) == 0; }));
    const QList<int> probed = ProbedAddresses(*fSim);
    for (int i = 0; i < probed.size(); ++i)
        QCOMPARE(probed[i], i + 1);

    // A result found through the converter gives the Ethernet page its address; a double click
    // connects through the converter.
    QTest::mouseClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QCOMPARE(fFrame->txtLineAddrEth->text(), QStringLiteral("20"));
    QTest::mouseDClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[20] Quadrel")));
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->Connected, Generous);
    QCOMPARE(fFrame->DevAddr, 20);
}

void TestQuadrelSearch::everySpeedAndFormatFindsAModule()
{
    // One module, set to 19200 8E1.
    QVERIFY(fSim->Bus().AddModule(16));
    fSim->Bus().WithModule(16, [](TzSimModule &aModule, uint64_t aNow) {
        QCOMPARE(aModule.WriteRegister(TzSimModule::RegSpeed, 5, aNow), 0);
        QCOMPARE(aModule.WriteRegister(TzSimModule::RegFormat, 6, aNow), 0);
        aModule.Restart(aNow);
    });
    OpenSerialPage();
    QCOMPARE(fFrame->cbLineBaudRate->currentText(), QStringLiteral("9600"));
    QCOMPARE(fFrame->cbLineFormat->currentIndex(), 0);
    fFrame->txtLineTimeout->setText(QStringLiteral("30"));
    QVERIFY(!fFrame->chkFindAllSettings->isChecked());
    QTest::mouseClick(fFrame->chkFindAllSettings, Qt::LeftButton, {}, QPoint(5, fFrame->chkFindAllSettings->height() / 2));
    QVERIFY(fFrame->chkFindAllSettings->isChecked());

    // A pty carries the speed but no parity bit: the simulator hears the speed itself, and the
    // module stays silent under the other formats here, as it would on a real line.
    QList<QPair<int, int>> passes;
    connect(fFrame->FindDevice.get(), &TfrmFindDevice::PassStarted, this, [this, &passes](int, int aSpeed, int aFormat) {
        passes << qMakePair(aSpeed, aFormat);
        fSim->Faults().SetSilent(aFormat != 2);
    });
    QString progressWhenFound;
    connect(fFrame->FindListBox->model(), &QAbstractItemModel::rowsInserted, this, [this, &progressWhenFound] {
        if (fFrame->FindListBox->count() > 1 && progressWhenFound.isEmpty())
            progressWhenFound = fFrame->FindListBox->item(0)->text();
    });
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QVERIFY(fFrame->FindDevice->InFindProgress());
    QTRY_VERIFY_WITH_TIMEOUT(Entry(fFrame->FindListBox, QStringLiteral("[16] Quadrel")), 20 * PassLimit);
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);

    QVERIFY2(progressWhenFound.startsWith(QStringLiteral("[16] 19200, RTU 8E1 .")), qPrintable(progressWhenFound));
    // In turn from the page's own settings: the formats at 9600, then on at 14400 where the port
    // takes that speed, then 19200.
    QList<QPair<int, int>> expected{{9600, 0}, {9600, 1}, {9600, 2}, {9600, 3}};
    if (passes.size() > 4 && passes[4].first == 14400)
        expected << QPair<int, int>{14400, 0} << QPair<int, int>{14400, 1} << QPair<int, int>{14400, 2}
                 << QPair<int, int>{14400, 3};
    expected << QPair<int, int>{19200, 0} << QPair<int, int>{19200, 1} << QPair<int, int>{19200, 2};
    QCOMPARE(passes, expected);

    QTest::mouseClick(fFrame->FindListBox->viewport(), Qt::LeftButton, {}, EntryCentre(QStringLiteral("[16] Quadrel")));
    QCOMPARE(fFrame->cbLineBaudRate->currentText(), QStringLiteral("19200"));
    QCOMPARE(fFrame->cbLineFormat->currentText(), QStringLiteral("MODBUS RTU 8E1"));
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("16"));
    QCOMPARE(fFrame->txtLineTimeout->text(), QStringLiteral("30"));
    QCOMPARE(fFrame->BaudRate, 19200);
}

void TestQuadrelSearch::closingDuringAScan()
{
    ThreeDevices();
    OpenSerialPage();
    QTest::mouseClick(fFrame->imgFindDevice, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fFrame->FindProgress->value() >= 5, Generous);
    QElapsedTimer closing;
    closing.start();
    delete fFrame;
    fFrame = nullptr;
    const qint64 ms = closing.elapsed();
    qInfo("closing during a scan took %lld ms", ms);
    QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
    // Nothing is left holding the port, and outcomes still posted find nobody to call.
    TzFreePort next(fPath);
    QVERIFY(next.Start());
    next.Stop();
    const size_t frames = fSim->Log().Count();
    QTest::qWait(300);
    QCOMPARE(fSim->Log().Count(), frames);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestQuadrelSearch test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_QuadrelSearch.moc"
