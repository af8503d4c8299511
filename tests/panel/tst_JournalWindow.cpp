// The window "Журнал" as the operator uses it: a day of the journal drawn,
// the events filtered by output and kind, a click on an event bringing the chart to it, the
// keyboard zooming and panning, the range saved as CSV and the chart as PNG, every control named
// for assistive technology.

#include "PanelTestKit.h"
#include "journal/uJournalEventsModel.h"
#include "journal/uJournalWriter.h"
#include "panel/uJournalWindow.h"
#include "tests/TestFiles.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>

namespace {

constexpr qint64 HourMs = 3600 * 1000LL;

} // namespace

class TestJournalWindow : public TestPanelCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void aDayOfTheJournal();
    void filtersAndAClickOnAnEvent();
    void keyboardZoomsAndPans();
    void savesCsvAndPng();

private:
    // A day of rows: a sample every ten seconds, output 3 closed in the afternoon, a power alarm
    // for an hour, and a few events.
    void FillJournal();
    void WaitForAnswer(int aAnswersBefore);

    TfrmJournal *fWindow = nullptr;
    qint64 fNow = 0;
};

void TestJournalWindow::init()
{
    QDir settings(qEnvironmentVariable("QUADREL_SETTINGS_DIR"));
    for (const QString &name : settings.entryList({QStringLiteral("Journal.sqlite*")}, QDir::Files))
        settings.remove(name);
    fPanel.Open({.Size = {900, 760}, .Silent = true});
    FillJournal();
    fWindow = nullptr;
}

void TestJournalWindow::cleanup()
{
    fWindow = nullptr;
    fPanel.Close();
}

void TestJournalWindow::FillJournal()
{
    fNow = QDateTime::currentMSecsSinceEpoch();
    TzJournalBatch batch;
    for (qint64 t = fNow - 23 * HourMs; t < fNow; t += 10000) {
        const bool alarm = t > fNow - 6 * HourMs && t < fNow - 5 * HourMs;
        const bool output3 = t > fNow - 10 * HourMs && t < fNow - 8 * HourMs;
        batch.Samples.push_back(
            {t, alarm ? 21000 : 24000 + int((t / 10000) % 7) * 10, alarm ? 0x4000 : 0, output3 ? 4u : 0u});
    }
    batch.Events.push_back({fNow - 10 * HourMs, "output", 3, 0, 1, "operator", "Выход 3: включён"});
    batch.Events.push_back({fNow - 8 * HourMs, "output", 3, 1, 0, "module", "Выход 3: выключен"});
    batch.Events.push_back({fNow - 6 * HourMs, "power_alarm_raised", 0, 0, 1, {}, "Питание: внимание"});
    batch.Events.push_back({fNow - 5 * HourMs, "power_alarm_cleared", 0, 1, 0, {}, "Питание: норма"});
    batch.Events.push_back({fNow - 2 * HourMs, "output", 7, 0, 1, "web", "Выход 7: включён"});
    Frame()->JournalWriter()->Append(batch);
}

void TestJournalWindow::WaitForAnswer(int aAnswersBefore)
{
    QTRY_VERIFY_WITH_TIMEOUT(fWindow->Answers() > aAnswersBefore, 20000);
}

void TestJournalWindow::aDayOfTheJournal()
{
    fWindow = Frame()->ShowJournal();
    QVERIFY(fWindow);
    QTRY_VERIFY(fWindow->isVisible());
    QCOMPARE(fWindow->windowTitle(), QStringLiteral("Журнал"));
    WaitForAnswer(0);
    // A day: the band of the supply over it, the alarm hour among the buckets.
    QVERIFY(fWindow->ToMs() - fWindow->FromMs() == 24 * HourMs);
    QVERIFY(fWindow->Buckets().size() >= 100);
    QVERIFY(std::any_of(fWindow->Buckets().begin(), fWindow->Buckets().end(), [](const TzJournalBucket &aBucket) {
        return aBucket.PowerAlarmAny && aBucket.SupplyMin == 21000;
    }));
    auto *events = fWindow->findChild<QTableView *>(QStringLiteral("tblJournalEvents"));
    QCOMPARE(events->model()->rowCount(), 5);
    QCOMPARE(events->model()->index(4, TzJournalEventsModel::ColSource).data().toString(),
             QStringLiteral("веб-сервис"));
    // The cross-hair hint at the alarm: time, voltage and the alarm.
    const QString hint = fWindow->HintAt(fNow - 5 * HourMs - HourMs / 2);
    QVERIFY2(hint.contains(QStringLiteral("21")) && hint.contains(QStringLiteral("тревога")), qPrintable(hint));
    // Every control says what it is.
    for (QWidget *control : fWindow->findChildren<QWidget *>()) {
        // The parts of a view (its corner button, its scroll bars) are the view's own.
        if (qobject_cast<QAbstractScrollArea *>(control->parentWidget()))
            continue;
        if (qobject_cast<QAbstractButton *>(control) || qobject_cast<QComboBox *>(control)
            || qobject_cast<QTableView *>(control) || control->objectName() == QStringLiteral("chartJournal"))
            QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
    }
    // "Час" shows the last hour only.
    const int answers = fWindow->Answers();
    QTest::mouseClick(fWindow->findChild<QAbstractButton *>(QStringLiteral("btnRangeHour")), Qt::LeftButton);
    WaitForAnswer(answers);
    QCOMPARE(fWindow->ToMs() - fWindow->FromMs(), HourMs);
    QCOMPARE(events->model()->rowCount(), 0);
}

void TestJournalWindow::filtersAndAClickOnAnEvent()
{
    fWindow = Frame()->ShowJournal();
    WaitForAnswer(0);
    auto *events = fWindow->findChild<QTableView *>(QStringLiteral("tblJournalEvents"));
    int answers = fWindow->Answers();
    fWindow->findChild<QComboBox *>(QStringLiteral("cbJournalOutput"))->setCurrentIndex(3);
    WaitForAnswer(answers);
    QCOMPARE(events->model()->rowCount(), 2);
    answers = fWindow->Answers();
    fWindow->findChild<QComboBox *>(QStringLiteral("cbJournalOutput"))->setCurrentIndex(0);
    fWindow->findChild<QComboBox *>(QStringLiteral("cbJournalKind"))->setCurrentText(QStringLiteral("Питание"));
    QTRY_VERIFY_WITH_TIMEOUT(events->model()->rowCount() == 2
                                 && events->model()->index(0, TzJournalEventsModel::ColKind).data().toString()
                                        == QStringLiteral("Тревога питания"),
                             20000);
    // A click on the alarm's clearing: the chart keeps its width and centres on it.
    const qint64 width = fWindow->ToMs() - fWindow->FromMs();
    answers = fWindow->Answers();
    QTest::mouseClick(events->viewport(), Qt::LeftButton, {},
                      events->visualRect(events->model()->index(1, TzJournalEventsModel::ColText)).center());
    WaitForAnswer(answers);
    QCOMPARE(fWindow->ToMs() - fWindow->FromMs(), width);
    QCOMPARE(fWindow->FromMs() + width / 2, fNow - 5 * HourMs);
}

void TestJournalWindow::keyboardZoomsAndPans()
{
    fWindow = Frame()->ShowJournal();
    WaitForAnswer(0);
    const qint64 from = fWindow->FromMs(), to = fWindow->ToMs();
    int answers = fWindow->Answers();
    QTest::keyClick(fWindow, Qt::Key_Plus);
    WaitForAnswer(answers);
    QCOMPARE(fWindow->ToMs() - fWindow->FromMs(), (to - from) / 2);
    QCOMPARE(fWindow->FromMs() + (fWindow->ToMs() - fWindow->FromMs()) / 2, from + (to - from) / 2);
    const qint64 halfFrom = fWindow->FromMs();
    answers = fWindow->Answers();
    QTest::keyClick(fWindow, Qt::Key_Left);
    WaitForAnswer(answers);
    QCOMPARE(fWindow->FromMs(), halfFrom - (to - from) / 8);
    answers = fWindow->Answers();
    QTest::keyClick(fWindow, Qt::Key_Minus);
    WaitForAnswer(answers);
    QCOMPARE(fWindow->ToMs() - fWindow->FromMs(), to - from);
    // Zooming in stops at a minute.
    for (int i = 0; i < 20; ++i)
        fWindow->Zoom(0.5);
    QCOMPARE(fWindow->ToMs() - fWindow->FromMs(), 60 * 1000LL);
}

void TestJournalWindow::savesCsvAndPng()
{
    fWindow = Frame()->ShowJournal();
    WaitForAnswer(0);
    QTemporaryDir folder;
    const QString csv = folder.filePath(QStringLiteral("day.csv"));
    QString error;
    QVERIFY2(fWindow->SaveTo(csv, &error), qPrintable(error));
    const QStringList lines = QString::fromUtf8(ReadText(csv)).split(u'\n');
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^event;"))).size(), 5);
    QVERIFY2(lines.filter(QRegularExpression(QStringLiteral("^sample;"))).size() >= 100,
             qPrintable(QStringLiteral("%1 buckets, %2 lines").arg(fWindow->Buckets().size()).arg(lines.size())));
    QVERIFY(ReadText(csv).contains("\"Выход 7: включён\""));
    const QString png = folder.filePath(QStringLiteral("day.png"));
    QVERIFY2(fWindow->SaveTo(png, &error), qPrintable(error));
    const QImage image(png);
    QVERIFY(!image.isNull() && image.width() > 100);
    // A place that cannot take the file says why.
    QVERIFY(!fWindow->SaveTo(folder.filePath(QStringLiteral("no/such/folder/day.csv")), &error));
    QVERIFY(!error.isEmpty());
}

QTEST_MAIN(TestJournalWindow)
#include "tst_JournalWindow.moc"
