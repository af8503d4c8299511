// The main window: caption, size limits, the frame inside, test mode and stay-on-top.

#include "app/uApplication.h"
#include "app/uMain.h"
#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uHintTiming.h"
#include "panel/uQuadrel.h"

#include <QAccessible>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QtTest>

#include "panel/uPictureLabel.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { RegisterQuadrelFrame(); }
    void startsWithTheFrameAndItsLimits();
    void testParameterSwitchesTestMode();
    void testModeCommandTogglesTheTestFeatures();
    void stayOnTopTwiceReturnsToNormal();
    void logoMenuFromTheKeyboard_data();
    void logoMenuFromTheKeyboard();
    void hintsComeQuicklyAndStay();
    void ctrlJOpensTheJournal();
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
    QTRY_VERIFY_WITH_TIMEOUT(window.Frame()->findChild<QFrame *>(QStringLiteral("panSnake"))->isVisible(), 5000);
    window.actTestMode->trigger();
    QVERIFY(!TestMode);
    QVERIFY(!window.actTestMode->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Frame()->findChild<QFrame *>(QStringLiteral("panSnake"))->isVisible(), 5000);
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

void TestMainWindow::logoMenuFromTheKeyboard_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
}

void TestMainWindow::logoMenuFromTheKeyboard()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TfrmTempLog log;
    TfrmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    TzPictureLabel *logo = window.Frame()->findChild<TzPictureLabel *>("imgLogo");
    QCOMPARE(logo->focusPolicy(), Qt::StrongFocus);
    QVERIFY(!window.StayOnTop());

    // In the menu: down to the second command and Enter, all from the keyboard.
    QStringList items;
    QTimer::singleShot(0, this, [&items] {
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMenu *>(QApplication::activePopupWidget()), 5000);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        for (const QAction *action : menu->actions())
            items << action->text();
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QTest::keyClick(logo, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(items, (QStringList{"Тестовый функционал", "Всегда сверху", "Журнал"}));
    QVERIFY(window.StayOnTop());
    QVERIFY(window.actStayOnTop->isChecked());

    // The same menu through the logo's accessible action.
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(logo);
    QVERIFY(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::showMenuAction()));
    bool shown = false;
    QTimer::singleShot(0, this, [&shown] {
        QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMenu *>(QApplication::activePopupWidget()), 5000);
        shown = true;
        QApplication::activePopupWidget()->close();
    });
    accessible->actionInterface()->doAction(QAccessibleActionInterface::showMenuAction());
    QVERIFY(shown);
}

void TestMainWindow::hintsComeQuicklyAndStay()
{
    TfrmTempLog log;
    TfrmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 200);
    QLineEdit *address = window.Frame()->findChild<QLineEdit *>("txtLineAddr");
    QVERIFY(!address->toolTip().isEmpty());
    QHelpEvent hint(QEvent::ToolTip, QPoint(2, 2), address->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(address, &hint);
    QCOMPARE(address->toolTipDuration(), HintDurationMs);
    QCOMPARE(HintDurationMs, 100000);
}

// Ctrl+J anywhere in the main window opens the window "Журнал"; the logo's menu has it too.
void TestMainWindow::ctrlJOpensTheJournal()
{
    TfrmTempLog log;
    TfrmMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);
    QTRY_VERIFY(window.isActiveWindow());
    auto journal = [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QStringLiteral("frmJournal") && widget->isVisible())
                return widget;
        return static_cast<QWidget *>(nullptr);
    };
    QVERIFY(!journal());
    QTest::keyClick(&window, Qt::Key_J, Qt::ControlModifier);
    QTRY_VERIFY(journal());
    QCOMPARE(journal()->windowTitle(), QStringLiteral("Журнал"));
    journal()->close();
    QVERIFY(!journal());
    QVERIFY(window.Frame()->findChild<TzPictureLabel *>("imgLogo")->actions().contains(window.actJournal));
    window.actJournal->trigger();
    QTRY_VERIFY(journal());
    // Closing the journal leaves the program running.
    QVERIFY(!journal()->testAttribute(Qt::WA_QuitOnClose));
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
