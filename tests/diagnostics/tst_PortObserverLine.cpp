// Port observers fed by a panel that polls the simulated module over a pseudo-terminal or through
// the simulated converter: what the operator sees while the line runs.

#include "app/uApplication.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uPortObserverModel.h"
#include "diagnostics/uTempLog.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "port/uModbusCRC.h"
#include "sim/uSimulator.h"
#include "tests/panel/PanelTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint8_t ModuleAddress = 16;
constexpr int LineTimeout = 15000;

const QStringList PolledRegisters{"24582 (0x6006)", "36881 (0x9011)", "60013 (0xEA6D)", "60014 (0xEA6E)",
                                  "60015 (0xEA6F)", "60016 (0xEA70)", "60017 (0xEA71)", "60047 (0xEA8F)"};

QStringList Column(const TfrmPortObserver *aObserver, int aColumn)
{
    QStringList texts;
    if (!aObserver->Model->IsCleared())
        for (int row = 0; row < aObserver->Model->rowCount(); ++row)
            texts << aObserver->Model->CellText(row, aColumn);
    return texts;
}

// The row of a register with an answer, or -1.
int AnsweredRow(const TfrmPortObserver *aObserver, const QString &aRegister, const QString &aFunction = QString())
{
    for (int row = 0; row < aObserver->Model->rowCount(); ++row)
        if (aObserver->Model->CellText(row, ocReg) == aRegister
            && (aFunction.isEmpty() || aObserver->Model->CellText(row, ocFunc) == aFunction)
            && !aObserver->Model->CellText(row, ocAnswer).isEmpty())
            return row;
    return -1;
}

bool HasAllPolledRows(const TfrmPortObserver *aObserver)
{
    for (const QString &reg : PolledRegisters)
        if (AnsweredRow(aObserver, reg) < 0)
            return false;
    return true;
}

int Elapsed(const TfrmPortObserver *aObserver, int aRow)
{
    QString text = aObserver->Model->CellText(aRow, ocTimeout);
    if (!text.endsWith(QStringLiteral(" мс")))
        return -1;
    text.chop(3);
    return text.toInt();
}

bool ModuleReceived(TzSimulator &aSim, int aFunction, int aReg, int aWord, size_t aFrom)
{
    const TestRequest request{ModuleAddress, aFunction, aReg, aWord};
    return TestFrameLog(aSim).Requests(aFrom, ModuleAddress).contains(request);
}

// Clicks a check box or radio button on its indicator, where the operator clicks.
void ClickOption(QAbstractButton *aOption)
{
    QTest::mouseClick(aOption, Qt::LeftButton, {}, QPoint(8, aOption->height() / 2));
}

} // namespace

class TestPortObserverLine : public TestPanelCase
{
    Q_OBJECT

public:
    TestPortObserverLine() : TestPanelCase(LineTimeout) {}

private slots:
    void init();
    void cleanup();

    void staticModeKeepsOneRowPerPolledRegister();
    void functionFilterDropsCoilWritesAndPauseKeepsAnswering();
    void elapsedShowsTheRoundTrip();
    void twoObserversThenClosingTheProgram();
    void converterLineIsNamedByAddressAndPort();

private:
    void ConnectSerial();
    TfrmPortObserver *OpenObserver();
    void ClickOutput(int aOutput);

    QString fPath;
};

void TestPortObserverLine::init()
{
    fPanel.StartSim();
    // The panel sits in a main window, as in the program.
    fPanel.Open({.InMainWindow = true});
}

void TestPortObserverLine::cleanup()
{
    fPanel.Close();
    QVERIFY(PortObservers().isEmpty());
}

void TestPortObserverLine::ConnectSerial()
{
    fPanel.ConnectSerial();
    fPath = fPanel.Path();
}

TfrmPortObserver *TestPortObserverLine::OpenObserver()
{
    // The button shows only while connected.
    [&] { QTRY_VERIFY_WITH_TIMEOUT(Control<QPushButton>("btnPortObserver")->isVisible(), LineTimeout); }();
    const qsizetype before = PortObservers().size();
    QTest::mouseClick(Control<QPushButton>("btnPortObserver"), Qt::LeftButton);
    if (PortObservers().size() != before + 1)
        return nullptr;
    TfrmPortObserver *observer = PortObservers().last();
    return observer->isVisible() ? observer : nullptr;
}

void TestPortObserverLine::ClickOutput(int aOutput)
{
    // Outputs 1..10 fill column 1 of the grid, one a row.
    TzRelayGrid *grid = Control<TzRelayGrid>("SG_Relays");
    const QPoint centre = grid->visualItemRect(grid->item(aOutput - 1, 1)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, centre);
}

void TestPortObserverLine::staticModeKeepsOneRowPerPolledRegister()
{
    ConnectSerial();
    TfrmPortObserver *observer = OpenObserver();
    QVERIFY(observer);
    QCOMPARE(observer->windowTitle(), QStringLiteral("Наблюдение за линией ") + fPath);
    QCOMPARE(observer->parentWidget(), Frame());
    // Centred over the panel.
    QCOMPARE(observer->x(), fPanel.Window()->x() + Frame()->width() / 2 - observer->width() / 2);
    QCOMPARE(observer->y(), fPanel.Window()->y() + Frame()->height() / 2 - observer->height() / 2);

    QTRY_VERIFY_WITH_TIMEOUT(HasAllPolledRows(observer), LineTimeout);
    const int row = AnsweredRow(observer, QStringLiteral("60016 (0xEA70)"));
    const int number = observer->Model->CellText(row, ocIndex).toInt();
    // Later polls of the same register update its row: a newer number, no new row.
    QTRY_VERIFY_WITH_TIMEOUT(observer->Model->CellText(row, ocIndex).toInt() > number, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(HasAllPolledRows(observer), LineTimeout);
    QStringList registers = Column(observer, ocReg);
    registers.sort();
    QCOMPARE(registers, PolledRegisters);

    // What a row of 60016 shows: the read, the module's answer, the decoded value.
    const int stateRow = AnsweredRow(observer, QStringLiteral("60016 (0xEA70)"));
    QCOMPARE(observer->Model->CellText(stateRow, ocFunc), QStringLiteral("03h"));
    QVERIFY(observer->Model->CellText(stateRow, ocRequest).startsWith(QStringLiteral("10.03.EA.70.00.01.")));
    QVERIFY(observer->Model->CellText(stateRow, ocAnswer).startsWith(QStringLiteral("10.03.02.")));
    QVERIFY(Elapsed(observer, stateRow) >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        !observer->Model->CellText(AnsweredRow(observer, QStringLiteral("24582 (0x6006)")), ocValue).isEmpty(),
        LineTimeout);
}

void TestPortObserverLine::functionFilterDropsCoilWritesAndPauseKeepsAnswering()
{
    ConnectSerial();
    TfrmPortObserver *observer = OpenObserver();
    QVERIFY(observer);
    QTest::mouseClick(observer->btnFilters, Qt::LeftButton);
    ClickOption(observer->rbDinamica);
    observer->cbFunc->setCurrentIndex(2);
    ClickOption(observer->chFilterFunc);
    QVERIFY(observer->chFilterFunc->isChecked());

    // Output 1 switched on: a coil write the filter keeps out, answer included.
    size_t mark = fPanel.FrameLog().ReceivedCount();
    ClickOutput(1);
    QTRY_VERIFY_WITH_TIMEOUT(ModuleReceived(*Sim(), 5, 4096, 0xFF00, mark), LineTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(fPanel.OutputPicture(1), QStringLiteral("dout_on"), LineTimeout);
    // The states read that showed it may have been queued before the filter cleared the table:
    // the next one brings a row.
    QTRY_VERIFY_WITH_TIMEOUT(!Column(observer, ocFunc).isEmpty(), LineTimeout);
    QStringList functions = Column(observer, ocFunc);
    functions.removeDuplicates();
    QCOMPARE(functions, QStringList{QStringLiteral("03h")});

    // Without the filters the write shows as register 4096, answered, in both notations.
    ClickOption(observer->chFilters);
    QVERIFY(!observer->chFilters->isChecked());
    mark = fPanel.FrameLog().ReceivedCount();
    ClickOutput(1);
    QTRY_VERIFY_WITH_TIMEOUT(ModuleReceived(*Sim(), 5, 4096, 0x0000, mark), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(AnsweredRow(observer, QStringLiteral("4096 (0x1000)"), QStringLiteral("05h")) >= 0,
                             LineTimeout);
    int row = AnsweredRow(observer, QStringLiteral("4096 (0x1000)"), QStringLiteral("05h"));
    QVERIFY(observer->Model->CellText(row, ocRequest).startsWith(QStringLiteral("10.05.10.00.00.00.")));
    QVERIFY(observer->Model->CellText(row, ocAnswer).startsWith(QStringLiteral("10.05.10.00.00.00.")));
    ClickOption(observer->rbDec);
    QVERIFY(observer->Model->CellText(row, ocRequest).startsWith(QStringLiteral("16.05.16.00.00.00.")));
    QVERIFY(observer->Model->CellText(row, ocAnswer).startsWith(QStringLiteral("16.05.16.00.00.00.")));

    // Paused: the polls go on, no row is added, and requests entered before are still answered.
    QTest::mouseClick(observer->btnPause, Qt::LeftButton);
    const int rows = observer->Model->rowCount();
    mark = fPanel.FrameLog().ReceivedCount();
    QTRY_VERIFY_WITH_TIMEOUT(fPanel.FrameLog().ReceivedCount() >= mark + 16, LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!Column(observer, ocTimeout).contains(QString()), LineTimeout);
    QCOMPARE(observer->Model->rowCount(), rows);
    QTest::mouseClick(observer->btnPause, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(observer->Model->rowCount() > rows, LineTimeout);
}

void TestPortObserverLine::elapsedShowsTheRoundTrip()
{
    ConnectSerial();
    TfrmPortObserver *observer = OpenObserver();
    QVERIFY(observer);
    Sim()->Faults().SetAnswerDelay(150);
    const int number = [&] {
        const int row = AnsweredRow(observer, QStringLiteral("36881 (0x9011)"));
        return row < 0 ? 0 : observer->Model->CellText(row, ocIndex).toInt();
    }();
    // A request queued after the delay was set is answered no sooner than 150 ms later.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const int row = AnsweredRow(observer, QStringLiteral("36881 (0x9011)"));
            return row >= 0 && observer->Model->CellText(row, ocIndex).toInt() > number + 20;
        }(),
        LineTimeout);
    const int row = AnsweredRow(observer, QStringLiteral("36881 (0x9011)"));
    QVERIFY2(Elapsed(observer, row) >= 150, qPrintable(observer->Model->CellText(row, ocTimeout)));
    QVERIFY2(Elapsed(observer, row) < 10000, qPrintable(observer->Model->CellText(row, ocTimeout)));
}

void TestPortObserverLine::twoObserversThenClosingTheProgram()
{
    ConnectSerial();
    QPointer<TfrmPortObserver> first = OpenObserver();
    QPointer<TfrmPortObserver> second = OpenObserver();
    QVERIFY(first && second && first != second);
    QVERIFY(PortObservers() == (QList<TfrmPortObserver *>{first, second}));
    QTRY_VERIFY_WITH_TIMEOUT(HasAllPolledRows(first) && HasAllPolledRows(second), LineTimeout);

    first->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(PortObservers() == (QList<TfrmPortObserver *>{second}));
    const int row = AnsweredRow(second, QStringLiteral("60016 (0xEA70)"));
    const int number = second->Model->CellText(row, ocIndex).toInt();
    QTRY_VERIFY_WITH_TIMEOUT(second->Model->CellText(row, ocIndex).toInt() > number, LineTimeout);

    // Closing the program with an observer open and the line running.
    fPanel.DeleteFrame();
    QVERIFY(second.isNull());
    QVERIFY(PortObservers().isEmpty());
    // Late answers of the stopped engine find no panel and no observer.
    QCoreApplication::processEvents();
}

void TestPortObserverLine::converterLineIsNamedByAddressAndPort()
{
    fPanel.ConnectConverter();
    const uint16_t port = fPanel.UdpPort();
    TfrmPortObserver *observer = OpenObserver();
    QVERIFY(observer);
    QCOMPARE(observer->windowTitle(), QStringLiteral("Наблюдение за линией 127.0.0.2:%1").arg(port));
    QTRY_VERIFY_WITH_TIMEOUT(HasAllPolledRows(observer), LineTimeout);
}

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    TestPortObserverLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_PortObserverLine.moc"
