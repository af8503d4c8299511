// Byte strings and the shared conversion helpers.

#include "common/uStringBytes.h"
#include "common/uUtils.h"

#include <QDomDocument>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestStringBytes : public QObject
{
    Q_OBJECT

private slots:
    void uninitialisedValueBecomesEmptyOnFirstUse();
    void setSizeZeroesAndBoundsWrites();
    void conversionsCutAt255();
    void textRoundTripsEveryByte();
    void equalityNeedsBothInitialised();
    void appendCharacter();

    void modbusErrorText_data();
    void modbusErrorText();
    void extractDigits_data();
    void extractDigits();
    void ipv4_data();
    void ipv4();
    void durationToStr_data();
    void durationToStr();
    void nearestMultiple_data();
    void nearestMultiple();
    void bitsAndWords();
    void frameToDecimalText();
    void xmlAttributes();
    void newYearSeason_data();
    void newYearSeason();
    void accessKeyAlphabet();
    void hasParam();
    void extractResourceToFile();
};

void TestStringBytes::uninitialisedValueBecomesEmptyOnFirstUse()
{
    TStringBytes value;
    QVERIFY(!value.IsInitialize);
    QCOMPARE(value.AsBytes(), QByteArray());
    QCOMPARE(value.AsString(), QString());
    QCOMPARE(value.Size(), uint8_t(0));
    QVERIFY(value.IsInitialize);
}

void TestStringBytes::setSizeZeroesAndBoundsWrites()
{
    TStringBytes value;
    value.setSize(8);
    QVERIFY(value.IsInitialize);
    QCOMPARE(value.AsBytes(), QByteArray(8, '\0'));
    try {
        value.SetByte(9, 0x55);
        QFAIL("a write past the length must raise");
    } catch (const ERangeError &error) {
        QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("range check error"));
    }
    QCOMPARE(value.AsBytes(), QByteArray(8, '\0'));
    value.SetByte(8, 0x55);
    QCOMPARE(value.GetByte(8), uint8_t(0x55));
    // Position 0 is the length itself.
    value.SetByte(0, 2);
    QCOMPARE(value.Size(), uint8_t(2));

    TStringBytes fresh;
    QVERIFY_THROWS_EXCEPTION(ERangeError, fresh.SetByte(1, 1));
    QVERIFY(fresh.IsInitialize);
}

void TestStringBytes::conversionsCutAt255()
{
    QByteArray bytes(300, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i);
    const TStringBytes fromBytes = bytes;
    QCOMPARE(fromBytes.Size(), uint8_t(255));
    QCOMPARE(fromBytes.AsBytes(), bytes.left(255));

    const TStringBytes fromText = QString(300, u'x');
    QCOMPARE(fromText.Size(), uint8_t(255));
}

void TestStringBytes::textRoundTripsEveryByte()
{
    QByteArray bytes;
    for (int i = 0; i < 255; ++i)
        bytes.append(char(i + 1));
    const TStringBytes frame = bytes;
    const TStringBytes again = frame.AsString();
    QVERIFY(frame == again);
}

void TestStringBytes::equalityNeedsBothInitialised()
{
    QVERIFY(!(TStringBytes() == TStringBytes()));
    TStringBytes a, b;
    a.setSize(0);
    b.setSize(0);
    QVERIFY(a == b);
    QVERIFY(!(a == TStringBytes()));
    QVERIFY(TStringBytes(QByteArray("\x01\x02")) == TStringBytes(QByteArray("\x01\x02")));
    QVERIFY(!(TStringBytes(QByteArray("\x01\x02")) == TStringBytes(QByteArray("\x01\x03"))));
    QVERIFY(!(TStringBytes(QByteArray("\x01")) == TStringBytes(QByteArray("\x01\x00", 2))));
}

void TestStringBytes::appendCharacter()
{
    const TStringBytes one = TStringBytes() + 'A';
    QCOMPARE(one.AsBytes(), QByteArray("A"));
    const TStringBytes full = QByteArray(255, 'x');
    QCOMPARE((full + 'y').AsBytes(), QByteArray(255, 'x'));
}

void TestStringBytes::modbusErrorText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << 1 << QStringLiteral("Принятый код функции не может быть\r\nобработан на подчиненном.");
    QTest::newRow("2") << 2 << QStringLiteral("Адрес данных указанный в запросе\r\nнедоступен данному подчиненному.");
    QTest::newRow("6 has no line break") << 6 << QStringLiteral("Подчинённый занят обработкой команды.");
    QTest::newRow("15") << 15
                        << QStringLiteral("Запрошенные данные пока не получены.\r\nЗапрос необходимо повторить "
                                          "позже.\r\n(возможно устройство отключено)");
    QTest::newRow("9 unknown") << 9 << QString();
    QTest::newRow("0 unknown") << 0 << QString();
}

void TestStringBytes::modbusErrorText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(ModbusErrorText(uint8_t(code)), text);
}

void TestStringBytes::extractDigits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("COM12") << "COM12" << true << 12;
    QTest::newRow("C1O2M3") << "C1O2M3" << true << 123;
    QTest::newRow("COM") << "COM" << false << -1;
    QTest::newRow("/dev/ttyUSB0") << "/dev/ttyUSB0" << true << 0;
    QTest::newRow("overflow") << "COM99999999999" << false << -1;
}

void TestStringBytes::extractDigits()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int result = -1;
    QCOMPARE(ExtractDigitsToInt(text, result), ok);
    QCOMPARE(result, value);
}

void TestStringBytes::ipv4_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("192.168.0.1") << "192.168.0.1" << true;
    QTest::newRow("10.0.0.255") << "10.0.0.255" << true;
    QTest::newRow("leading zero octet") << "10.0.0.010" << true;
    QTest::newRow("first zero") << "0.1.2.3" << false;
    QTest::newRow("three parts") << "1.2.3" << false;
    QTest::newRow("256") << "1.2.3.256" << false;
    QTest::newRow("empty part") << "1..2.3" << false;
    QTest::newRow("trailing point") << "1.2.3.4." << false;
    QTest::newRow("five parts") << "1.2.3.4.5" << false;
    QTest::newRow("letters") << "1.2.3.a" << false;
    QTest::newRow("sign") << "1.2.3.+4" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("huge octet") << "1.2.3.99999999999" << false;
}

void TestStringBytes::ipv4()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidIPv4(text), valid);
}

void TestStringBytes::durationToStr_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("1500") << qint64(1500) << "00:00:01.500";
    QTest::newRow("61005") << qint64(61005) << "00:01:01.005";
    QTest::newRow("a day") << qint64(86400000) << "24:00:00.000";
    QTest::newRow("a day and 5 ms") << qint64(86400005) << "24:00:00.005";
    QTest::newRow("250") << qint64(250) << "00:00:00.250";
    QTest::newRow("100 hours") << qint64(360000000) << "100:00:00.000";
    QTest::newRow("negative shows zero") << qint64(-5) << "00:00:00.000";
}

void TestStringBytes::durationToStr()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(DurationToStr(ms), text);
}

void TestStringBytes::nearestMultiple_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("result");
    QTest::newRow("down") << 449 << 50 << 450;
    QTest::newRow("exact") << 450 << 50 << 450;
    QTest::newRow("below half") << 424 << 50 << 400;
    QTest::newRow("tie goes up") << 425 << 50 << 450;
    QTest::newRow("zero step") << 17 << 0 << 17;
    QTest::newRow("no overflow") << 2147483647 << 10 << 2147483640;
}

void TestStringBytes::nearestMultiple()
{
    QFETCH(int, value);
    QFETCH(int, step);
    QFETCH(int, result);
    QCOMPARE(NearestMultiple(value, step), result);
}

void TestStringBytes::bitsAndWords()
{
    QVERIFY(IsBitSet(0x8000, 15));
    QVERIFY(!IsBitSet(0x8000, 14));
    QVERIFY(IsBitSet(1, 32)); // the bit number counts modulo 32
    QVERIFY(IsBitSet(-1, 31));
    QCOMPARE(BytesToWord(0x34, 0x12), 0x1234);
    QCOMPARE(DurationToMs(1, 2, 3, 4), qint64(3723004));
    QCOMPARE(DurationToMs(65535, 0, 0, 0), qint64(65535) * 3600000);
    QVERIFY(ValueInRange(10, 1, 10));
    QVERIFY(!ValueInRange(1, 10, 5)); // upper bound first
}

void TestStringBytes::frameToDecimalText()
{
    QCOMPARE(FrameToDecimalText(QByteArray::fromHex("01030200058443")), QStringLiteral("1.3.2.0.5.132"));
    QCOMPARE(FrameToDecimalText(QByteArray::fromHex("01")), QString());
    QCOMPARE(FrameToDecimalText(TStringBytes()), QString());
}

void TestStringBytes::xmlAttributes()
{
    QDomDocument document;
    QVERIFY(static_cast<bool>(document.setContent(QByteArray("<a n=\"42\" s=\"x\" bad=\"4x\" neg=\"-7\"/>"))));
    const QDomElement element = document.documentElement();
    int number = 5;
    QVERIFY(XmlAttrToInt(element, "n", number));
    QCOMPARE(number, 42);
    QVERIFY(XmlAttrToInt(element, "neg", number));
    QCOMPARE(number, -7);
    number = 5;
    QVERIFY(!XmlAttrToInt(element, "bad", number));
    QVERIFY(!XmlAttrToInt(element, "missing", number));
    QVERIFY(!XmlAttrToInt(element, "s", number));
    QCOMPARE(number, 5);
    QString text = "keep";
    QVERIFY(XmlAttrToStr(element, "s", text));
    QCOMPARE(text, QStringLiteral("x"));
    QVERIFY(!XmlAttrToStr(element, "missing", text));
    QCOMPARE(text, QStringLiteral("x"));
}

void TestStringBytes::newYearSeason_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<bool>("season");
    QTest::newRow("1 Jan") << QDateTime(QDate(2027, 1, 1), QTime(0, 0)) << true;
    QTest::newRow("9 Jan late") << QDateTime(QDate(2027, 1, 9), QTime(23, 59)) << true;
    QTest::newRow("10 Jan") << QDateTime(QDate(2027, 1, 10), QTime(0, 0)) << false;
    QTest::newRow("14 Dec late") << QDateTime(QDate(2026, 12, 14), QTime(23, 59)) << false;
    QTest::newRow("15 Dec") << QDateTime(QDate(2026, 12, 15), QTime(0, 0)) << true;
    QTest::newRow("31 Dec") << QDateTime(QDate(2026, 12, 31), QTime(12, 0)) << true;
    QTest::newRow("summer") << QDateTime(QDate(2026, 7, 1), QTime(12, 0)) << false;
}

void TestStringBytes::newYearSeason()
{
    QFETCH(QDateTime, now);
    QFETCH(bool, season);
    QCOMPARE(IsNewYearSeason(now), season);
}

void TestStringBytes::accessKeyAlphabet()
{
    for (int round = 0; round < 50; ++round) {
        const QString key = GenerateAccessKey(16);
        QCOMPARE(key.size(), 16);
        QVERIFY2(key[0].isLetter(), qPrintable(key));
        for (const QChar c : key)
            QVERIFY2((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'), qPrintable(key));
    }
    QCOMPARE(GenerateAccessKey(0), QString());
}

void TestStringBytes::hasParam()
{
    const QStringList arguments{"/opt/panel", "/autorun", "test"};
    QVERIFY(HasParam("test", arguments));
    QVERIFY(HasParam("/autorun", arguments));
    QVERIFY(!HasParam("Test", arguments));
    QVERIFY(!HasParam("/opt/panel", arguments)); // the program itself is no parameter
}

void TestStringBytes::extractResourceToFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString target = folder.filePath("template.xml");
    QVERIFY(ExtractResourceToFile("XMLDATA", target));
    QFile written(target);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QFile resource(":/XMLDATA");
    QVERIFY(resource.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), resource.readAll());

    QVERIFY_THROWS_EXCEPTION(EzError, ExtractResourceToFile("NO_SUCH_RESOURCE", folder.filePath("x")));
    QVERIFY_THROWS_EXCEPTION(EzError, ExtractResourceToFile("XMLDATA", folder.filePath("missing/dir/x")));
}

QTEST_GUILESS_MAIN(TestStringBytes)
#include "tst_StringBytes.moc"
