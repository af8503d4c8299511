// A start as the logon registration makes it: the program's first argument is "/autorun" (or, in
// a second build of this file, "/AUTORUN", which must not count). The panel reads Options.xml,
// stays silent, starts minimised when asked, and connects by itself to the simulated module after
// the stored delay.

#include "app/uApplication.h"
#include "app/uMain.h"
#include "diagnostics/uTempLog.h"
#include "panel/uQuadrel.h"
#include "settings/uSettingsPlace.h"
#include "sim/uSimulator.h"
#include "tests/TestSettings.h"
#include "tests/panel/PanelTestKit.h"

#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <vector>

#ifndef START_ARGUMENT
#define START_ARGUMENT "/autorun"
#endif

namespace {

const bool RealAutorun = QLatin1String(START_ARGUMENT) == QLatin1String("/autorun");

void WriteOptions(const QByteArray &aText)
{
    QFile file(OptionsFileName());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(aText);
}

bool AnyMessageBox()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            return true;
    return false;
}

} // namespace

class TestAutorunStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void startsSilentMinimisedAndConnectsAfterTheDelay();
    void withoutAutorunElementNothingHappens();
    void helpNoticeFollowsTheSilentRule();

private:
    TfrmTempLog *fLog = nullptr;
};

void TestAutorunStart::initTestCase()
{
    RegisterQuadrelFrame();
    QCOMPARE(QCoreApplication::arguments().value(1), QStringLiteral(START_ARGUMENT));
}

void TestAutorunStart::cleanup()
{
    ClearTestSettings();
}

void TestAutorunStart::startsSilentMinimisedAndConnectsAfterTheDelay()
{
    TzSimulator sim;
    QVERIFY(sim.Bus().AddModule(16));
    const QString port = QString::fromStdString(sim.StartPty());
    QVERIFY(!port.isEmpty());
    WriteOptions("<?xml version=\"1.0\"?><options><comport indx=\"0\" name=\"" + port.toUtf8()
                 + "\" addr=\"16\" baudrate=\"3\" format=\"0\" timeout=\"50\"/>"
                   "<autorun mini=\"1\" autostart=\"1\" delay_on=\"1\" delay_value=\"2\"/></options>");
    TfrmTempLog log;
    TfrmMain window;
    TfrQuadrel *frame = window.Frame();
    QVERIFY(frame);
    window.ShowAtStart();
    QCOMPARE(frame->Silent(), RealAutorun);
    QCOMPARE(window.isMinimized(), RealAutorun);
    QCOMPARE(frame->findChild<QTimer *>(QStringLiteral("AutostartTimer"))->isActive(), RealAutorun);
    QCOMPARE(frame->findChild<QTimer *>(QStringLiteral("AutostartTimer"))->interval(), 2000);
    QVERIFY(!TestPanelState::IsConnected(*frame));
    if (RealAutorun) {
        QTRY_VERIFY_WITH_TIMEOUT(TestPanelState::IsConnected(*frame), 15000);
        QVERIFY(!frame->findChild<QTimer *>(QStringLiteral("AutostartTimer"))->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(TestPanelState::IsPolling(*frame), 15000);
    } else {
        // Twice the delay and more: still idle.
        QTest::qWait(4500);
        QVERIFY(!TestPanelState::IsConnected(*frame));
        QVERIFY(TestFrameLog(sim).Entries().empty());
    }
    QVERIFY(!AnyMessageBox());
}

void TestAutorunStart::withoutAutorunElementNothingHappens()
{
    WriteOptions("<?xml version=\"1.0\"?><options><comport addr=\"20\"/></options>");
    TfrmTempLog log;
    TfrmMain window;
    window.ShowAtStart();
    QVERIFY(!window.Frame()->Silent());
    QVERIFY(!window.isMinimized());
    QVERIFY(!window.Frame()->findChild<QTimer *>(QStringLiteral("AutostartTimer"))->isActive());
    QCOMPARE(window.Frame()->findChild<QLineEdit *>("txtLineAddr")->text(), QStringLiteral("20"));
}

void TestAutorunStart::helpNoticeFollowsTheSilentRule()
{
    WriteOptions("<?xml version=\"1.0\"?><options><autorun mini=\"0\"/></options>");
    TfrmTempLog log;
    TfrmMain window;
    window.ShowAtStart();
    const QString notice = QStringLiteral("Справка находится в процессе разработки ") + QChar(0x263A);
    // A box that opens is read and closed, as an operator would.
    QStringList boxes;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&boxes] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->windowTitle() + QStringLiteral(": ") + box->text();
            box->accept();
        }
    });
    closer.start(20);
    QTest::mouseClick(window.Frame()->findChild<QPushButton *>("btnHelp"), Qt::LeftButton);
    if (RealAutorun) {
        // Silent: a log line instead of a box that would wait for someone who is not there.
        QVERIFY(boxes.isEmpty());
        QCOMPARE(log.Lines().count(notice), 1);
    } else {
        QCOMPARE(boxes, QStringList{QStringLiteral("Уведомление: ") + notice});
        QVERIFY(!log.Lines().contains(notice));
    }
}

int main(int argc, char *argv[])
{
    // The application sees the start argument first, as a logon start passes it; the test
    // runner gets the command line as given.
    std::vector<char *> arguments{argv[0], const_cast<char *>(START_ARGUMENT)};
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    int count = int(arguments.size());
    arguments.push_back(nullptr);
    TzApplication app(count, arguments.data());
    TestAutorunStart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_AutorunStart.moc"
