// The log window: counter lines at start, colours, trimming and counter updates.

#include "diagnostics/uTempLog.h"
#include "diagnostics/uVerInfo.h"

#include <QLabel>
#include <QtTest>

class TestTempLog : public QObject
{
    Q_OBJECT

private slots:
    void opensWithCounterLines();
    void newestLineFirstInItsColour();
    void trimsToTheNewest200();
    void errorCounters();
    void versionWindowAnimation();
};

void TestTempLog::opensWithCounterLines()
{
    TfrmTempLog log;
    QCOMPARE(log.windowTitle(), QStringLiteral("Лог"));
    const QStringList expected{"Ошибок 01h: 0", "Ошибок 02h: 0", "Ошибок 03h: 0", "Ошибок 04h: 0", "Ошибок 05h: 0",
                               "Ошибок 06h: 0", "Ошибок 07h: 0", "Ошибок 08h: 0", "Других ошибок: 0"};
    QCOMPARE(log.Lines(), expected);
    QCOMPARE(log.LineColor(0), LogNavy);
}

void TestTempLog::newestLineFirstInItsColour()
{
    TfrmTempLog log;
    TempLogAdd("Успешное подключение", LogGreen);
    TempLogAdd("", LogNavy);
    TempLogAdd("Неудачное подключение", LogMaroon);
    const QStringList lines = log.Lines();
    QCOMPARE(lines.mid(0, 3), (QStringList{"Неудачное подключение", "", "Успешное подключение"}));
    QCOMPARE(log.LineColor(0), LogMaroon);
    QCOMPARE(log.LineColor(2), LogGreen);
    QCOMPARE(log.LineColor(3), LogNavy);
}

void TestTempLog::trimsToTheNewest200()
{
    TfrmTempLog log;
    for (int i = 0; i < 991; ++i)
        TempLogAdd(QString::number(i), LogMaroon);
    QCOMPARE(log.Lines().size(), 1000);
    TempLogAdd("new", LogGreen);
    const QStringList lines = log.Lines();
    QCOMPARE(lines.size(), 201);
    QCOMPARE(lines.front(), QStringLiteral("new"));
    QCOMPARE(lines[1], QStringLiteral("990"));
    QCOMPARE(lines.back(), QStringLiteral("791"));
    QCOMPARE(log.LineColor(1), LogMaroon);
}

void TestTempLog::errorCounters()
{
    TfrmTempLog log;
    TempLogAdd("note", LogGreen);
    TempLogErrorCount(4, 17);
    TempLogErrorCount(11, 3);
    const QStringList lines = log.Lines();
    QCOMPARE(lines[4], QStringLiteral("Ошибок 04h: 17"));
    QCOMPARE(lines[9], QStringLiteral("Других ошибок: 3"));
    QCOMPARE(lines[0], QStringLiteral("note"));
    QCOMPARE(log.LineColor(4), LogNavy);
    QCOMPARE(log.LineColor(0), LogGreen);
}

void TestTempLog::versionWindowAnimation()
{
    TfrmVerInfo window;
    QCOMPARE(window.windowTitle(), QStringLiteral("История версий"));
    QCOMPARE(window.labWorking->text(), QStringLiteral(" Идёт разработка "));
    for (int i = 1; i <= 8; ++i)
        window.Timer1Timer();
    QCOMPARE(window.labWorking->text(), QStringLiteral("======== Идёт разработка ========"));
    window.Timer1Timer();
    QCOMPARE(window.labWorking->text(), QStringLiteral(" Идёт разработка "));

    // The banner moves only while the window is open: a closed window costs no wake-ups.
    QVERIFY(!window.Timer1->isActive());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.Timer1->isActive());
    const QString shown = window.labWorking->text();
    QTRY_VERIFY_WITH_TIMEOUT(window.labWorking->text() != shown, 5000);
    window.hide();
    QVERIFY(!window.Timer1->isActive());
}

QTEST_MAIN(TestTempLog)
#include "tst_TempLog.moc"
