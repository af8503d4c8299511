// The panel keeps its journal as the operator uses it: clicks in the output grid, the all-outputs
// button, a light sequence and a change nobody here asked for end up in Journal.sqlite beside
// Options.xml with their sources, with a sample a second; a damaged journal is set aside; a
// journal that cannot be written costs the panel nothing.

#include "PanelTestKit.h"
#include "common/uGlobVar.h"
#include "diagnostics/uTempLog.h"
#include "journal/uJournalStore.h"
#include "journal/uJournalWriter.h"
#include "link/uQuadrelLink.h"
#include "panel/uRelayGrid.h"
#include "panel/uSequencePanel.h"
#include "tests/TestFiles.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QScrollBar>

namespace {

constexpr int LineTimeout = 20000;

QString SettingsDir()
{
    return qEnvironmentVariable("QUADREL_SETTINGS_DIR");
}

QString JournalFile()
{
    return QDir(SettingsDir()).filePath(QStringLiteral("Journal.sqlite"));
}

QPoint CellCentre(TzRelayGrid *aGrid, int aCol, int aRow)
{
    return aGrid->visualItemRect(aGrid->item(aRow - 1, aCol)).center();
}

} // namespace

class TestPanelJournal : public TestPanelCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandsAreJournalledWithTheirSources();
    void damagedJournalIsSetAside();
    void unwritableJournalCostsThePanelNothing();

private:
    // The journal as kept on disk, read once the frame (and its writer) has gone.
    std::vector<TzJournalEvent> StoredEvents(const QStringList &aKinds = {});
    std::vector<TzJournalSample> StoredSamples();
};

void TestPanelJournal::init()
{
    TestMode = true;
    QDir settings(SettingsDir());
    for (const QString &name : settings.entryList({QStringLiteral("Journal.sqlite*")}, QDir::AllEntries))
        QVERIFY(QFileInfo(settings.filePath(name)).isDir() ? QDir(settings.filePath(name)).removeRecursively()
                                                           : settings.remove(name));
    fPanel.StartSim();
}

void TestPanelJournal::cleanup()
{
    fPanel.Close();
    TestMode = false;
}

std::vector<TzJournalEvent> TestPanelJournal::StoredEvents(const QStringList &aKinds)
{
    TzJournalStore store(SettingsDir());
    QString note;
    if (!store.Open(&note))
        qWarning("journal not opened: %s", qPrintable(note));
    return store.Events(0, QDateTime::currentMSecsSinceEpoch() + 1000, 0, aKinds);
}

std::vector<TzJournalSample> TestPanelJournal::StoredSamples()
{
    TzJournalStore store(SettingsDir());
    QString note;
    store.Open(&note);
    return store.Samples(0, QDateTime::currentMSecsSinceEpoch() + 1000);
}

void TestPanelJournal::commandsAreJournalledWithTheirSources()
{
    fPanel.Open({.Size = {900, 760}, .Silent = true});
    fPanel.ConnectSerial();
    auto *grid = Control<TzRelayGrid>("SG_Relays");
    // Output 12: row 2 of the right half.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 4, 2));
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(12).IsOn(), LineTimeout);
    QTest::mouseClick(Control<QPushButton>("btnAllOn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(1).IsOn() && Frame()->Outputs().Output(20).IsOn(), LineTimeout);
    // A sequence faster than the poll (100 ms steps): "all open", then one output lit after
    // another; many of its changes are read only after the next command was given.
    Control<QScrollBar>("SnakeSpeedScroll")->setValue(1950);
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Sequences().SnakePos() >= 8, LineTimeout);
    QTest::mouseClick(Control<QPushButton>("btnSnakeOn"), Qt::LeftButton);
    // Let the sequence's last writes and their reads settle, then another master switches 20 on.
    QTRY_COMPARE_WITH_TIMEOUT(Frame()->Link()->OrderedWritesWaiting(), 0, LineTimeout);
    QTest::qWait(1500);
    Sim()->Bus().WithModule(16, [](TzSimModule &m, uint64_t aNow) { m.SetOutputState(20, true, aNow); });
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(20).IsOn(), LineTimeout);
    QTest::qWait(2500);    // the journal hands its rows over once a second
    fPanel.ClickConnect(); // disconnect
    fPanel.DeleteFrame();

    QStringList outputs;
    for (const TzJournalEvent &event : StoredEvents({QStringLiteral("output")}))
        outputs << QStringLiteral("%1:%2:%3").arg(event.Output).arg(event.New.value_or(-1)).arg(event.Source);
    QCOMPARE(outputs.front(), QStringLiteral("12:1:operator"));
    for (int n = 1; n <= 20; ++n)
        if (n != 12)
            QVERIFY2(outputs.contains(QStringLiteral("%1:1:all_outputs").arg(n)), qPrintable(outputs.join(' ')));
    QVERIFY2(outputs.contains(QStringLiteral("20:0:sequence")), qPrintable(outputs.join(' ')));
    QVERIFY2(!outputs.filter(QRegularExpression(QStringLiteral(":1:sequence$"))).isEmpty(),
             qPrintable(outputs.join(' ')));
    // Only the change nobody here asked for is the module's.
    QCOMPARE(outputs.filter(QStringLiteral(":module")), QStringList{"20:1:module"});
    QCOMPARE(outputs.back(), QStringLiteral("20:1:module"));
    QStringList connections;
    for (const TzJournalEvent &event :
         StoredEvents({QStringLiteral("connection_made"), QStringLiteral("connection_ended")}))
        connections << event.Kind;
    QCOMPARE(connections, (QStringList{"connection_made", "connection_ended"}));
    // A sample a second while connected.
    const std::vector<TzJournalSample> samples = StoredSamples();
    QVERIFY2(samples.size() >= 3, qPrintable(QString::number(samples.size())));
    QCOMPARE(samples.back().Outputs & (1u << 19), 1u << 19);
}

void TestPanelJournal::damagedJournalIsSetAside()
{
    WriteText(JournalFile(), QByteArray(8192, '\x5A'));
    fPanel.Open({.Silent = true});
    QTRY_VERIFY_WITH_TIMEOUT(!QDir(SettingsDir()).entryList({QStringLiteral("Journal.sqlite.broken-*")}).isEmpty(),
                             LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().join('\n').contains(QStringLiteral("Journal.sqlite")), LineTimeout);
    fPanel.ConnectSerial();
    QTest::qWait(2500);
    fPanel.DeleteFrame();
    QCOMPARE(StoredEvents({QStringLiteral("connection_made")}).size(), size_t(1));
}

// A journal that cannot be written (its file's place is taken by a folder): one log line, the
// panel connects and switches as ever, and once the place is free the journal is written again
// with the rows kept meanwhile.
void TestPanelJournal::unwritableJournalCostsThePanelNothing()
{
    QVERIFY(QDir(SettingsDir()).mkpath(QStringLiteral("Journal.sqlite")));
    fPanel.Open({.Size = {900, 760}, .Silent = true});
    fPanel.ConnectSerial();
    auto *grid = Control<TzRelayGrid>("SG_Relays");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, CellCentre(grid, 1, 5));
    QTRY_VERIFY_WITH_TIMEOUT(Frame()->Outputs().Output(5).IsOn(), LineTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().join('\n').contains(QStringLiteral("Журнал")), LineTimeout);
    const int journalLines = int(Log()->Lines().filter(QStringLiteral("Журнал")).size());
    QTest::qWait(2500);
    // Said once, not once a second.
    QCOMPARE(int(Log()->Lines().filter(QStringLiteral("Журнал")).size()), journalLines);
    QVERIFY(QDir(JournalFile()).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(Log()->Lines().contains(QStringLiteral("Журнал снова записывается")), LineTimeout);
    fPanel.ClickConnect();
    fPanel.DeleteFrame();
    QStringList outputs;
    for (const TzJournalEvent &event : StoredEvents({QStringLiteral("output")}))
        outputs << QStringLiteral("%1:%2").arg(event.Output).arg(event.Source);
    QCOMPARE(outputs, QStringList{"5:operator"});
}

QTEST_MAIN(TestPanelJournal)
#include "tst_PanelJournal.moc"
