// The log window: counter lines at start, colours, trimming and counter updates.

#include "diagnostics/uTempLog.h"
#include "diagnostics/uVerInfo.h"
#include "port/uPortLog.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QtTest>

#include <thread>

Q_LOGGING_CATEGORY(lcOther, "test.other")

namespace {

// What reached the handler that was in place before the log window.
QStringList gBefore;
void RecordBefore(QtMsgType, const QMessageLogContext &, const QString &aText)
{
    gBefore << aText;
}

} // namespace

class TestTempLog : public QObject
{
    Q_OBJECT

private slots:
    void opensWithCounterLines();
    void newestLineFirstInItsColour();
    void trimsToTheNewest200();
    void errorCounters();
    void versionWindowAnimation();
    void categoryMessagesFromAnotherThread_data();
    void categoryMessagesFromAnotherThread();
};

void TestTempLog::opensWithCounterLines()
{
    TfrmTempLog log;
    QCOMPARE(log.windowTitle(), QStringLiteral("Лог"));
    const QStringList expected{"Ошибок 01h: 0", "Ошибок 02h: 0", "Ошибок 03h: 0", "Ошибок 04h: 0",   "Ошибок 05h: 0",
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

void TestTempLog::categoryMessagesFromAnotherThread_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("rulesSet");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<bool>("toStandardError");
    QTest::newRow("port warning: maroon") << "warning" << false << true << LogMaroon << false;
    QTest::newRow("port info: navy") << "info" << false << true << LogNavy << false;
    QTest::newRow("port debug: not shown") << "debug" << false << false << QColor() << false;
    QTest::newRow("other category: not shown, handled as before") << "other" << false << false << QColor() << true;
    QTest::newRow("QT_LOGGING_RULES set: shown and on standard error")
        << "warning" << true << true << LogMaroon << true;
}

void TestTempLog::categoryMessagesFromAnotherThread()
{
    QFETCH(QString, kind);
    QFETCH(bool, rulesSet);
    QFETCH(bool, shown);
    QFETCH(QColor, color);
    QFETCH(bool, toStandardError);
    const QByteArray rulesBefore = qgetenv("QT_LOGGING_RULES");
    const bool hadRules = qEnvironmentVariableIsSet("QT_LOGGING_RULES");
    if (rulesSet)
        qputenv("QT_LOGGING_RULES", "quadrel.*=true");
    else
        qunsetenv("QT_LOGGING_RULES");
    gBefore.clear();
    const QtMessageHandler original = qInstallMessageHandler(RecordBefore);
    const QString text = QStringLiteral("Порт /dev/ttyX: %1").arg(kind);
    const QString sentinel = QStringLiteral("конец");
    {
        TfrmTempLog log;
        const int linesBefore = int(log.Lines().size());
        std::thread worker([&] {
            if (kind == "warning")
                qCWarning(lcPort).noquote() << text;
            else if (kind == "info")
                qCInfo(lcPort).noquote() << text;
            else if (kind == "debug")
                qCDebug(lcPort).noquote() << text;
            else
                qCWarning(lcOther).noquote() << text;
            // Lines arrive in order: once this one is there, the message above has had its turn.
            qCWarning(lcPort).noquote() << sentinel;
        });
        worker.join();
        QTRY_VERIFY_WITH_TIMEOUT(log.Lines().contains(sentinel), 10000);
        const QStringList lines = log.Lines();
        QCOMPARE(lines.contains(text), shown);
        QCOMPARE(int(lines.size()), linesBefore + (shown ? 2 : 1));
        if (shown) {
            QCOMPARE(lines.indexOf(text), 1);
            QCOMPARE(log.LineColor(1), color);
        }
        QCOMPARE(gBefore.contains(text), toStandardError);
    }
    // The window gone, its handler is gone too: everything reaches the one before.
    qCWarning(lcPort).noquote() << sentinel;
    QVERIFY(gBefore.contains(sentinel));
    QVERIFY(qInstallMessageHandler(original) == RecordBefore);
    if (hadRules)
        qputenv("QT_LOGGING_RULES", rulesBefore);
    else
        qunsetenv("QT_LOGGING_RULES");
}

QTEST_MAIN(TestTempLog)
#include "tst_TempLog.moc"
