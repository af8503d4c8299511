// The outputs' model alone, without a window: the picture each output shows, what assistive
// technology reads of it, and the exact changes it announces.

#include "model/uQuadrelMap.h"
#include "panel/uOutputsModel.h"

#include <QSignalSpy>
#include <QtTest>

class TestOutputsModel : public QObject
{
    Q_OBJECT

private slots:
    void pictureRules_data();
    void pictureRules();
    void changesAreAnnouncedExactly();
    void descriptionsAreEditable();
};

namespace {

constexpr int Output = 3;
constexpr int None = -1;

// The changes announced: "row:column:roles" each.
QStringList Announced(const QSignalSpy &aSpy)
{
    QStringList changes;
    for (const QList<QVariant> &change : aSpy) {
        const auto from = change[0].value<QModelIndex>();
        const auto to = change[1].value<QModelIndex>();
        QStringList roles;
        for (const int role : change[2].value<QList<int>>())
            roles << QString::number(role);
        roles.sort();
        changes << QStringLiteral("%1-%2:%3:%4")
                       .arg(from.row() + 1)
                       .arg(to.row() + 1)
                       .arg(from.column())
                       .arg(roles.join(u','));
    }
    return changes;
}

QString Roles(const QList<int> &aRoles)
{
    QStringList roles;
    for (const int role : aRoles)
        roles << QString::number(role);
    roles.sort();
    return roles.join(u',');
}

} // namespace

void TestOutputsModel::pictureRules_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("sequence"); // a light sequence runs while the states are read
    QTest::addColumn<int>("read");      // the state read, or None
    QTest::addColumn<int>("command");   // the state commanded after the read, or None
    QTest::addColumn<int>("fill");      // the duty factor set last, or None
    QTest::addColumn<bool>("forget");   // a new connection began after all that
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("state");

    QTest::newRow("not connected") << false << false << 1 << None << None << false << "dout_off" << "выключен";
    QTest::newRow("not connected, waiting") << false << false << 1 << 0 << None << false << "dout_off" << "выключен";
    QTest::newRow("unknown") << true << false << None << None << None << false << "dout_unknown"
                             << "состояние неизвестно";
    QTest::newRow("on") << true << false << 1 << None << None << false << "dout_on" << "включён";
    QTest::newRow("off") << true << false << 0 << None << None << false << "dout_off" << "выключен";
    QTest::newRow("waiting") << true << false << 0 << 1 << None << false << "dout_wait" << "ожидание";
    QTest::newRow("waiting, state unknown") << true << false << None << 0 << None << false << "dout_wait"
                                            << "ожидание";
    QTest::newRow("pulsing") << true << false << 1 << None << 500 << false << "dout_pulse" << "ШИМ";
    QTest::newRow("fill 1 pulses") << true << false << 0 << None << 1 << false << "dout_pulse" << "ШИМ";
    QTest::newRow("fill 1000 is closed") << true << false << 0 << None << 1000 << false << "dout_off"
                                         << "выключен";
    QTest::newRow("read during a sequence") << true << true << 1 << None << None << false << "dout_on" << "включён";
    QTest::newRow("forgotten on a new connection") << true << false << 1 << None << 500 << true << "dout_unknown"
                                                   << "состояние неизвестно";
}

void TestOutputsModel::pictureRules()
{
    QFETCH(bool, connected);
    QFETCH(bool, sequence);
    QFETCH(int, read);
    QFETCH(int, command);
    QFETCH(int, fill);
    QFETCH(bool, forget);
    QFETCH(QString, picture);
    QFETCH(QString, state);

    TzOutputsModel model;
    model.SetConnected(true);
    model.SetSequenceRunning(sequence);
    if (read != None)
        model.StatesRead(QuadrelMap::RegStates1to16, read ? 1 << (Output - 1) : 0);
    if (command != None)
        model.CommandSent(Output, command == 1);
    if (fill != None)
        model.SetFill(Output, fill);
    if (forget)
        model.ForgetStates();
    model.SetConnected(connected);

    QCOMPARE(model.Picture(Output), picture);
    const QModelIndex cell = model.StateIndex(Output);
    QCOMPARE(cell.data(TzOutputsModel::PictureRole).toString(), picture);
    QCOMPARE(cell.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Выход 3: ") + state);
    const QString hint = picture == QStringLiteral("dout_unknown") ? QStringLiteral("Состояние выхода ещё не прочитано")
                                                                   : QString();
    QCOMPARE(cell.data(Qt::ToolTipRole).toString(), hint);
    // A sequence's steps stay on screen: a state read meanwhile is not taken as the output's.
    QCOMPARE(model.Output(Output).StateKnown, read != None && !sequence && !forget);
    // The neighbours are untouched by it all.
    QCOMPARE(model.Output(Output + 1).IsWait, false);
    QCOMPARE(model.Output(Output + 1).ShimKoef, 0);
}

void TestOutputsModel::changesAreAnnouncedExactly()
{
    TzOutputsModel model;
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    const QString picture = Roles({TzOutputsModel::PictureRole, Qt::AccessibleTextRole, Qt::ToolTipRole});
    const int state = TzOutputsModel::ColState;

    // Connected: every picture turns from off to unknown; the records stay as they were.
    model.SetConnected(true);
    QCOMPARE(spy.size(), 20);
    QCOMPARE(Announced(spy)[0], QStringLiteral("1-1:%1:%2").arg(state).arg(picture));
    QCOMPARE(Announced(spy)[19], QStringLiteral("20-20:%1:%2").arg(state).arg(picture));
    spy.clear();
    model.SetConnected(true);
    QCOMPARE(spy.size(), 0);

    // The states of 17..20 read: each output's cell, with its picture and its record's fields.
    model.StatesRead(QuadrelMap::RegStates17to20, 0b0101);
    const QString known = Roles(
        {TzOutputsModel::PictureRole, Qt::AccessibleTextRole, Qt::ToolTipRole, TzOutputsModel::StateKnownRole});
    const QString knownOn = Roles({TzOutputsModel::PictureRole, Qt::AccessibleTextRole, Qt::ToolTipRole,
                                   TzOutputsModel::StateKnownRole, TzOutputsModel::IsOnRole});
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("17-17:%1:%2").arg(state).arg(knownOn),
                                          QStringLiteral("18-18:%1:%2").arg(state).arg(known),
                                          QStringLiteral("19-19:%1:%2").arg(state).arg(knownOn),
                                          QStringLiteral("20-20:%1:%2").arg(state).arg(known)}));
    spy.clear();
    // The same states again change nothing; one output switched changes that one only.
    model.StatesRead(QuadrelMap::RegStates17to20, 0b0101);
    QCOMPARE(spy.size(), 0);
    model.StatesRead(QuadrelMap::RegStates17to20, 0b0111);
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("18-18:%1:%2")
                                              .arg(state)
                                              .arg(Roles({TzOutputsModel::PictureRole, Qt::AccessibleTextRole,
                                                          Qt::ToolTipRole, TzOutputsModel::IsOnRole}))}));
    spy.clear();

    // What the picture does not show is announced by its own role alone.
    model.SetSafe(4, 1);
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("4-4:%1:%2").arg(state).arg(TzOutputsModel::SafeRole)}));
    spy.clear();
    model.SetPulseWidth(4, 10, 1000, 0);
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("4-4:%1:%2")
                                              .arg(state)
                                              .arg(Roles({TzOutputsModel::ScaleRole, TzOutputsModel::PeriodRole}))}));
    spy.clear();
    model.SafeStatesRead(QuadrelMap::RegSafe1to16, 1 << 3);
    QCOMPARE(spy.size(), 0);
    model.SafeStatesRead(QuadrelMap::RegSafe1to16, 0);
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("4-4:%1:%2").arg(state).arg(TzOutputsModel::SafeRole)}));
    spy.clear();

    // Offline every output shows the off picture: those already off announce nothing.
    model.SetState(1, false);
    spy.clear();
    model.SetConnected(false);
    QCOMPARE(spy.size(), 20 - 1 - 1); // 1 and 20 showed off already
    QCOMPARE(model.StateText(17), QStringLiteral("Выход 17: выключен"));
}

void TestOutputsModel::descriptionsAreEditable()
{
    TzOutputsModel model;
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    const QModelIndex cell = model.DescriptionIndex(13);
    QVERIFY(model.flags(cell) & Qt::ItemIsEditable);
    QVERIFY(!(model.flags(model.StateIndex(13)) & Qt::ItemIsEditable));
    QVERIFY(model.setData(cell, QStringLiteral("Насос")));
    QCOMPARE(model.Description(13), QStringLiteral("Насос"));
    QCOMPARE(cell.data().toString(), QStringLiteral("Насос"));
    QCOMPARE(cell.data(Qt::AccessibleTextRole).toString(), QStringLiteral("Описание выхода 13"));
    QCOMPARE(Announced(spy), (QStringList{QStringLiteral("13-13:%1:%2")
                                              .arg(TzOutputsModel::ColDescription)
                                              .arg(Roles({Qt::DisplayRole, Qt::EditRole}))}));
    spy.clear();
    QVERIFY(!model.SetDescription(13, QStringLiteral("Насос")));
    QVERIFY(!model.setData(model.StateIndex(13), QStringLiteral("x")));
    QVERIFY(!model.SetDescription(21, QStringLiteral("x")));
    QCOMPARE(spy.size(), 0);
    QCOMPARE(model.Description(21), QString());
    QCOMPARE(model.Picture(0), QStringLiteral("dout_off"));
}

QTEST_GUILESS_MAIN(TestOutputsModel)
#include "tst_OutputsModel.moc"
