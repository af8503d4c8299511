// The pulse-width arithmetic on its own: durations from parameters as the module counts them, the
// way back from two durations to the parameters, and the duration text.

#include "common/uUtils.h"
#include "model/uShimCalc.h"

#include <QtTest>

using namespace ShimCalc;

namespace {

int64_t Ms(const char *aText)
{
    int64_t ms = -1;
    if (!ParseDuration(QString::fromLatin1(aText), ms))
        qFatal("bad duration text in the test: %s", aText);
    return ms;
}

} // namespace

class TestShimCalc : public QObject
{
    Q_OBJECT

private slots:
    void durations_data();
    void durations();
    void closedAndOpenAlwaysMakeTheCycle();
    void representablePairsComeBackExactly_data();
    void representablePairsComeBackExactly();
    void everyParameterSetIsFoundAgain();
    void unrepresentablePairsGiveTheNearest_data();
    void unrepresentablePairsGiveTheNearest();
    void parseDuration_data();
    void parseDuration();
};

void TestShimCalc::durations_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("koef");
    QTest::addColumn<QString>("on");
    QTest::addColumn<QString>("off");
    QTest::newRow("half of the shortest cycle") << 1 << 50 << 500 << "00:00:00.250" << "00:00:00.250";
    QTest::newRow("closed part in whole units") << 3 << 777 << 333 << "00:00:07.740" << "00:00:15.570";
    QTest::newRow("fill 1 rounds down to nothing") << 1 << 50 << 1 << "00:00:00.000" << "00:00:00.500";
    QTest::newRow("longest cycle, always closed") << 240 << 36000 << 1000 << "24:00:00.000" << "00:00:00.000";
    QTest::newRow("fill 0 shows nothing") << 5 << 100 << 0 << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("unit 0 is out of range") << 0 << 100 << 500 << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("unit 241 is out of range") << 241 << 100 << 500 << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("period 49 is out of range") << 1 << 49 << 500 << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("period 36001 is out of range") << 1 << 36001 << 500 << "00:00:00.000" << "00:00:00.000";
    QTest::newRow("fill 1001 is out of range") << 1 << 50 << 1001 << "00:00:00.000" << "00:00:00.000";
}

void TestShimCalc::durations()
{
    QFETCH(int, scale);
    QFETCH(int, period);
    QFETCH(int, koef);
    QFETCH(QString, on);
    QFETCH(QString, off);
    const TzShimDurations got = Durations({scale, period, koef});
    QCOMPARE(DurationToStr(got.OnMs), on);
    QCOMPARE(DurationToStr(got.OffMs), off);
}

void TestShimCalc::closedAndOpenAlwaysMakeTheCycle()
{
    for (const int scale : {1, 7, 240})
        for (const int period : {50, 999, 1001, 36000})
            for (const int koef : {1, 3, 499, 999, 1000}) {
                const TzShimDurations got = Durations({scale, period, koef});
                QCOMPARE(got.OnMs + got.OffMs, int64_t(10) * scale * period);
                QVERIFY(got.OnMs % (10 * scale) == 0); // whole units of count
            }
}

void TestShimCalc::representablePairsComeBackExactly_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<QString>("off");
    QTest::addColumn<int>("koef"); // -1: any
    QTest::newRow("half a second, half closed") << "00:00:00.250" << "00:00:00.250" << 500;
    QTest::newRow("worked value") << "00:00:07.740" << "00:00:15.570" << -1;
    QTest::newRow("always closed for a day") << "24:00:00.000" << "00:00:00.000" << 1000;
    QTest::newRow("always closed, short cycle") << "00:00:01.000" << "00:00:00.000" << 1000;
    QTest::newRow("always open") << "00:00:00.000" << "00:00:00.500" << 0;
    QTest::newRow("10 ms closed in a second") << "00:00:00.010" << "00:00:00.990" << -1;
    QTest::newRow("odd tens of ms") << "00:00:01.230" << "00:00:00.770" << -1;
    QTest::newRow("one hour and a half") << "01:00:00.000" << "00:30:00.000" << -1;
    QTest::newRow("six hours of twelve") << "06:00:00.000" << "06:00:00.000" << -1;
    QTest::newRow("three seconds of seven") << "00:00:03.000" << "00:00:04.000" << -1;
    QTest::newRow("prime cycle in tens of ms") << "00:00:02.170" << "00:00:08.000" << -1;
}

void TestShimCalc::representablePairsComeBackExactly()
{
    QFETCH(QString, on);
    QFETCH(QString, off);
    QFETCH(int, koef);
    const TzShimDurations wanted{Ms(qPrintable(on)), Ms(qPrintable(off))};
    const TzShimFit fit = FitDurations(wanted);
    QVERIFY(ParamsValid(fit.Params));
    QVERIFY(fit.OnExact);
    QVERIFY(fit.OffExact);
    QCOMPARE(fit.Got, wanted);
    if (koef >= 0)
        QCOMPARE(fit.Params.Koef, koef);
    // What the panel will display for these parameters (a fill factor of 0 displays blank).
    if (fit.Params.Koef != 0)
        QCOMPARE(Durations(fit.Params), wanted);
}

void TestShimCalc::everyParameterSetIsFoundAgain()
{
    // Whatever durations some parameters give, the way back finds parameters that give the same.
    for (const int scale : {1, 2, 3, 7, 100, 240})
        for (const int period : {50, 51, 777, 1000, 1001, 4999, 36000})
            for (const int koef : {1, 2, 333, 500, 999, 1000}) {
                const TzShimDurations wanted = Durations({scale, period, koef});
                const TzShimFit fit = FitDurations(wanted);
                QVERIFY2(fit.Got == wanted && fit.OnExact && fit.OffExact,
                         qPrintable(QStringLiteral("u %1 p %2 k %3 -> u %4 p %5 k %6")
                                        .arg(scale)
                                        .arg(period)
                                        .arg(koef)
                                        .arg(fit.Params.Scale)
                                        .arg(fit.Params.Period)
                                        .arg(fit.Params.Koef)));
                QVERIFY(fit.Params.Scale <= scale); // the finest unit that does it
            }
}

void TestShimCalc::unrepresentablePairsGiveTheNearest_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<QString>("off");
    QTest::addColumn<QString>("gotOn");
    QTest::addColumn<QString>("gotOff");
    QTest::newRow("below one unit closed") << "00:00:00.005" << "00:00:00.495" << "00:00:00.000" << "00:00:00.500";
    QTest::newRow("cycle below the shortest") << "00:00:00.100" << "00:00:00.100" << "00:00:00.250" << "00:00:00.250";
    QTest::newRow("nothing at all") << "00:00:00.000" << "00:00:00.000" << "00:00:00.000" << "00:00:00.500";
    QTest::newRow("beyond a day") << "25:00:00.000" << "00:00:00.000" << "24:00:00.000" << "00:00:00.000";
    QTest::newRow("a day and a half closed, half open")
        << "18:00:00.000" << "18:00:00.000" << "12:00:00.000" << "12:00:00.000";
    QTest::newRow("milliseconds in the cycle") << "00:00:00.255" << "00:00:00.251" << "00:00:00.260"
                                               << "00:00:00.250";
    QTest::newRow("a minute of a day: fill steps of 86.4 s")
        << "00:01:00.000" << "23:59:00.000" << "00:01:26.400" << "23:58:33.600";
    QTest::newRow("closed part finer than the day's unit")
        << "00:00:00.010" << "23:59:59.990" << "00:00:00.000" << "24:00:00.000";
}

void TestShimCalc::unrepresentablePairsGiveTheNearest()
{
    QFETCH(QString, on);
    QFETCH(QString, off);
    QFETCH(QString, gotOn);
    QFETCH(QString, gotOff);
    const TzShimDurations wanted{Ms(qPrintable(on)), Ms(qPrintable(off))};
    const TzShimFit fit = FitDurations(wanted);
    QVERIFY(ParamsValid(fit.Params));
    QCOMPARE(DurationToStr(fit.Got.OnMs), gotOn);
    QCOMPARE(DurationToStr(fit.Got.OffMs), gotOff);
    QCOMPARE(fit.OnExact, fit.Got.OnMs == wanted.OnMs);
    QCOMPARE(fit.OffExact, fit.Got.OffMs == wanted.OffMs);
    QVERIFY(!fit.OnExact || !fit.OffExact);
}

void TestShimCalc::parseDuration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("full") << "01:02:03.004" << true << qint64(3723004);
    QTest::newRow("a day") << "24:00:00.000" << true << qint64(86400000);
    QTest::newRow("blank field") << "  :  :  .   " << true << qint64(0);
    QTest::newRow("blanks are zeros where they stand") << "  :01:  .5  " << true << qint64(60500);
    QTest::newRow("three hour digits") << "100:00:00.000" << true << qint64(360000000);
    QTest::newRow("60 minutes") << "00:60:00.000" << false << qint64(0);
    QTest::newRow("60 seconds") << "00:00:60.000" << false << qint64(0);
    QTest::newRow("letters") << "0a:00:00.000" << false << qint64(0);
    QTest::newRow("no milliseconds") << "00:00:00" << false << qint64(0);
    QTest::newRow("empty") << "" << false << qint64(0);
}

void TestShimCalc::parseDuration()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint64, ms);
    int64_t got = -7;
    QCOMPARE(ParseDuration(text, got), ok);
    if (ok)
        QCOMPARE(qint64(got), ms);
    else
        QCOMPARE(got, int64_t(-7));
}

QTEST_GUILESS_MAIN(TestShimCalc)
#include "tst_ShimCalc.moc"
