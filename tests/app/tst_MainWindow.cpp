// The main window: caption, size limits, the frame inside, test mode and stay-on-top.

#include "app/uApplication.h"
#include "app/uMain.h"
#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uQuadrel.h"

#include <QAction>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RegisterQuadrelFrame(); }
    void startsWithTheFrameAndItsLimits();
    void testParameterSwitchesTestMode();
    void testModeCommandTogglesTheTestFeatures();
    void stayOnTopTwiceReturnsToNormal();
};

void TestMainWindow::startsWithTheFrameAndItsLimits()
{
    TfrmTempLog log;
    TfrmMain window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Панель управления Quadrel"));
    QCOMPARE(window.size(), QSize(800, 750));
    QCOMPARE(window.minimumSize(), QSize(800, 500));
    QVERIFY(window.Frame());
    QVERIFY(window.Frame()->objectName().startsWith("Frame"));
    window.resize(300, 200);
    QCOMPARE(window.size(), QSize(800, 500));
}

void TestMainWindow::testParameterSwitchesTestMode()
{
    // The program was started with "test" (see main below); "TEST" would not count.
    TfrmTempLog log;
    TestMode = false;
    TfrmMain window;
    QVERIFY(TestMode);
    QVERIFY(window.actTestMode->isChecked());
    QVERIFY(!HasParam("TEST"));
}

void TestMainWindow::testModeCommandTogglesTheTestFeatures()
{
    TfrmTempLog log;
    TfrmMain window;
    window.show();
    QVERIFY(TestMode);
    QTRY_VERIFY_WITH_TIMEOUT(window.Frame()->panSnake->isVisible(), 5000);
    window.actTestMode->trigger();
    QVERIFY(!TestMode);
    QVERIFY(!window.actTestMode->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Frame()->panSnake->isVisible(), 5000);
    window.SystemCommand(TfrmMain::CmdTestMode);
    QVERIFY(TestMode);
}

void TestMainWindow::stayOnTopTwiceReturnsToNormal()
{
    TfrmTempLog log;
    TfrmMain window;
    window.show();
    QVERIFY(!window.StayOnTop());
    window.actStayOnTop->trigger();
    QVERIFY(window.StayOnTop());
    QVERIFY(window.actStayOnTop->isChecked());
    window.actStayOnTop->trigger();
    QVERIFY(!window.StayOnTop());
    QVERIFY(!window.actStayOnTop->isChecked());
    QVERIFY(window.isVisible());
}

int main(int argc, char *argv[])
{
    // The application sees the parameter "test"; Qt Test gets the real command line.
    QByteArray program(argv[0]);
    QByteArray parameter("test");
    char *appArgv[] = {program.data(), parameter.data(), nullptr};
    int appArgc = 2;
    TzApplication app(appArgc, appArgv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_MainWindow.moc"
