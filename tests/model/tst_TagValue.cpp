// Tag values: clamping, dead band, value text, quality and change reports.

#include "model/uGlobals.h"

#include <QLocale>
#include <QtTest>

#include <cmath>
#include <limits>

class TestTagValue : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void newTag();
    void notANumberOnlyClearsText();
    void deadBand();
    void clampKeepsUnclampedText();
    void qualityChangeFlag();
    void valueText_data();
    void valueText();
    void valueTextUsesLocaleSeparator();
};

void TestTagValue::newTag()
{
    TzTag tag;
    QCOMPARE(tag.Quality(), QualityWaiting);
    QCOMPARE(tag.Value(), 0.0);
    QCOMPARE(tag.ValueStr, QStringLiteral("0"));
    QVERIFY(tag.IsChanged);
    QVERIFY(tag.Enabled);
    QVERIFY(tag.CanRead && tag.CanWrite);
    QCOMPARE(tag.BitPos, -1);
    QCOMPARE(tag.MinValue, -2147483647.0);
    QCOMPARE(tag.MaxValue, 2147483647.0);
    QCOMPARE(tag.Radius, 2147483647.0);
    QCOMPARE(tag.Script, nullptr);
}

void TestTagValue::notANumberOnlyClearsText()
{
    TzTag tag;
    tag.SetValue(5);
    tag.SetQuality(QualityRejected);
    tag.SetValue(std::nan(""));
    QCOMPARE(tag.ValueStr, QString());
    QCOMPARE(tag.Value(), 5.0);
    QCOMPARE(tag.Quality(), QualityRejected);
}

void TestTagValue::deadBand()
{
    TzTag tag;
    int changes = 0;
    tag.OnChange = [&changes] { ++changes; };
    tag.SetValue(0.00005);
    QCOMPARE(tag.Quality(), QualityGood);
    QCOMPARE(tag.Value(), 0.00005);
    QCOMPARE(tag.ValueStr, QStringLiteral("0"));
    QCOMPARE(changes, 0);
    tag.SetValue(0.0001);
    QCOMPARE(tag.ValueStr, QStringLiteral("0.0001"));
    QCOMPARE(changes, 1);

    tag.SetValue(5);
    tag.SetValue(5.00005);
    QCOMPARE(tag.ValueStr, QStringLiteral("5"));
    QCOMPARE(tag.Value(), 5.00005);
    QCOMPARE(changes, 2);

    tag.SetQuality(QualityFailed);
    tag.SetValue(5.00005); // inside the dead band, but a value is a value: quality back to good
    QCOMPARE(tag.Quality(), QualityGood);
}

void TestTagValue::clampKeepsUnclampedText()
{
    TzTag tag;
    tag.SetValue(2147483648.0);
    QCOMPARE(tag.Value(), 2147483647.0);
    QCOMPARE(tag.ValueStr, QStringLiteral("2147483648"));
    tag.SetValue(-1e12);
    QCOMPARE(tag.Value(), -2147483647.0);
    QCOMPARE(tag.ValueStr, QStringLiteral("-1000000000000"));
    tag.MinValue = 10;
    tag.MaxValue = 5; // a reversed range: the maximum wins
    tag.SetValue(7);
    QCOMPARE(tag.Value(), 5.0);
    tag.SetValue(std::numeric_limits<double>::infinity());
    QCOMPARE(tag.Value(), 5.0);
}

void TestTagValue::qualityChangeFlag()
{
    TzTag tag;
    tag.IsChanged = false;
    tag.SetQuality(QualityWaiting);
    QVERIFY(!tag.IsChanged);
    tag.SetQuality(QualityFailed);
    QVERIFY(tag.IsChanged);
}

void TestTagValue::valueText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0.0 << "0";
    QTest::newRow("4660") << 4660.0 << "4660";
    QTest::newRow("-2") << -2.0 << "-2";
    QTest::newRow("12.5") << 12.5 << "12.5";
    QTest::newRow("1E-6") << 1e-6 << "1E-6";
    QTest::newRow("-1E-6") << -1e-6 << "-1E-6";
    QTest::newRow("0.00001 stays fixed") << 0.00001 << "0.00001";
    QTest::newRow("1.5E20") << 1.5e20 << "1.5E20";
    QTest::newRow("15 integer digits") << 123456789012345.0 << "123456789012345";
    QTest::newRow("16 integer digits") << 1234567890123456.0 << "1.23456789012346E15";
    QTest::newRow("one third") << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("rounds up a digit") << 9.9999999999999999 << "10";
    QTest::newRow("0.1 plus 0.2") << 0.1 + 0.2 << "0.3";
    QTest::newRow("tiny") << 4.9e-324 << "4.94065645841247E-324";
}

void TestTagValue::valueText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(TzTag::FormatValue(value), text);
}

void TestTagValue::valueTextUsesLocaleSeparator()
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(TzTag::FormatValue(12.5), QStringLiteral("12,5"));
    QCOMPARE(TzTag::FormatValue(1.5e20), QStringLiteral("1,5E20"));
    TzTag tag;
    tag.SetValue(0.0001);
    QCOMPARE(tag.ValueStr, QStringLiteral("0,0001"));
}

QTEST_GUILESS_MAIN(TestTagValue)
#include "tst_TagValue.moc"
