// CRC, request frames built from tags, and the answer decoder.

#include "model/uGlobals.h"
#include "port/uModbusCRC.h"

#include <QtTest>

#include <cmath>

namespace {

QByteArray Hex(const char *aText)
{
    return QByteArray::fromHex(QByteArray(aText).replace(' ', ""));
}

QString HexOf(const TStringBytes &aFrame)
{
    return QString::fromLatin1(aFrame.AsBytes().toHex(' ').toUpper());
}

// A device at the given address holding one tag shaped by the arguments.
struct TagFixture
{
    TzDevice device;
    TzTag *tag;
    TagFixture(int aAddr, int aReg, int aReadCmd, int aWriteCmd, int aValType, const QString &aOrder)
    {
        device.DevAddr = aAddr;
        tag = device.AddTag();
        tag->Reg = aReg;
        tag->ReadCmd = aReadCmd;
        tag->WriteCmd = aWriteCmd;
        tag->ValType = aValType;
        tag->SegSize = 1;
        tag->Order = aOrder;
        tag->OrderMas.clear();
        for (const QChar c : aOrder)
            tag->OrderMas.append(c.isDigit() ? char(c.digitValue()) : char(0));
    }
};

} // namespace

class TestModbusFrames : public QObject
{
    Q_OBJECT

private slots:
    void crcReferenceValues();
    void crcCheck_data();
    void crcCheck();
    void readRequest_data();
    void readRequest();
    void writeRequest_data();
    void writeRequest();
    void decode_data();
    void decode();
    void decodeException_data();
    void decodeException();
    void blockAnswer();
    void laterAnswerClearsException();
    void applyAnswerSetsQuality();
};

void TestModbusFrames::crcReferenceValues()
{
    QCOMPARE(CalcModbusCRC(TStringBytes(QByteArray("123456789")), 9), uint16_t(0x4B37));
    QCOMPARE(CalcModbusCRC(TStringBytes(Hex("010300000001")), 6), uint16_t(0x0A84));
    TStringBytes frame = Hex("010300000001");
    AppendModbusCRC(frame);
    QCOMPARE(HexOf(frame), QStringLiteral("01 03 00 00 00 01 84 0A"));
}

void TestModbusFrames::crcCheck_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::newRow("read request") << Hex("01 03 00 00 00 01 84 0A") << true;
    QTest::newRow("swapped checksum") << Hex("01 03 00 00 00 01 0A 84") << false;
    QTest::newRow("exception answer") << Hex("01 83 02 C0 F1") << true;
    QTest::newRow("two bytes") << Hex("FF FF") << false;
    QTest::newRow("one byte") << Hex("01") << false;
    QTest::newRow("empty") << QByteArray() << false;

    QByteArray longest(253, '\0');
    for (int i = 0; i < longest.size(); ++i)
        longest[i] = char(i * 7);
    const uint16_t crc = CalcModbusCRC(reinterpret_cast<const uint8_t *>(longest.constData()), 253);
    longest.append(char(crc & 0xFF)).append(char(crc >> 8));
    QTest::newRow("255 bytes") << longest << true;
}

void TestModbusFrames::crcCheck()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QCOMPARE(CheckModbusCRC(reinterpret_cast<const uint8_t *>(frame.constData()), int(frame.size())), valid);
    QCOMPARE(CheckModbusCRC(TStringBytes(frame)), valid);
}

void TestModbusFrames::readRequest_data()
{
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("readCmd");
    QTest::addColumn<int>("segSize");
    QTest::addColumn<QString>("frame");
    QTest::newRow("28672 at 1") << 1 << 28672 << 3 << 1 << "01 03 70 00 00 01 9E CA";
    QTest::newRow("28672 at 16") << 16 << 28672 << 3 << 1 << "10 03 70 00 00 01 9D 8B";
    QTest::newRow("block of 30") << 1 << 60017 << 3 << 30 << QString();
    QTest::newRow("no read function") << 1 << 60000 << 0 << 1 << "";
    QTest::newRow("function 5 is no read") << 1 << 4096 << 5 << 1 << "";
}

void TestModbusFrames::readRequest()
{
    QFETCH(int, addr);
    QFETCH(int, reg);
    QFETCH(int, readCmd);
    QFETCH(int, segSize);
    QFETCH(QString, frame);
    TagFixture fixture(addr, reg, readCmd, 0, 2, "21");
    fixture.tag->SegSize = segSize;
    const TStringBytes built = BuildModbusReadRTU(*fixture.tag);
    if (frame.isNull()) {
        // Checked through an independent path: header fields and a valid checksum.
        QCOMPARE(built.Size(), uint8_t(8));
        QCOMPARE(built.AsBytes().left(6), Hex("01 03 EA 71 00 1E"));
        QVERIFY(CheckModbusCRC(built));
    } else {
        QCOMPARE(HexOf(built), frame);
    }
}

void TestModbusFrames::writeRequest_data()
{
    QTest::addColumn<int>("addr");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("writeCmd");
    QTest::addColumn<int>("valType");
    QTest::addColumn<QString>("order");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<double>("carried");
    QTest::newRow("9600 to 28672") << 1 << 28672 << 6 << 2 << "21" << 9600.0 << "01 06 70 00 25 80 88 3A" << 9600.0;
    QTest::newRow("coil 4096 on") << 1 << 4096 << 5 << 8 << "21" << 1.0 << "01 05 10 00 FF 00 88 FA" << 1.0;
    QTest::newRow("coil 1.5 is on") << 1 << 4096 << 5 << 8 << "" << 1.5 << "01 05 10 00 FF 00 88 FA" << 1.0;
    QTest::newRow("coil 65536 is on") << 1 << 4096 << 5 << 8 << "" << 65536.0 << "01 05 10 00 FF 00 88 FA" << 1.0;
    QTest::newRow("coil -0.5 is off") << 1 << 4096 << 5 << 8 << "" << -0.5 << "01 05 10 00 00 00 C9 0A" << 0.0;
    QTest::newRow("coil 0.9 is off") << 1 << 4096 << 5 << 8 << "" << 0.9 << "01 05 10 00 00 00 C9 0A" << 0.0;
    QTest::newRow("coil of output 12 at 16") << 16 << 5504 << 5 << 8 << "" << 1.0 << "10 05 15 80 FF 00 8A 9F" << 1.0;
    QTest::newRow("signed -2") << 1 << 28672 << 6 << 4 << "21" << -2.0 << "01 06 70 00 FF FE 53 7A" << -2.0;
    QTest::newRow("unsigned keeps low 16 bits")
        << 1 << 28672 << 6 << 2 << "21" << 70000.0 << "01 06 70 00 11 70 9E BE" << 4464.0;
    QTest::newRow("unsigned -1") << 1 << 28672 << 6 << 2 << "21" << -1.0 << "01 06 70 00 FF FF 92 BA" << 65535.0;
    QTest::newRow("float 1.5 by 16") << 1 << 28672 << 16 << 0 << "4321" << 1.5 << "01 10 70 00 3F C0 00 00 97 1E"
                                     << 1.5;
    QTest::newRow("int32 word-swapped") << 1 << 28672 << 16 << 5 << "2143" << double(0x11223344)
                                        << "01 10 70 00 33 44 11 22 58 2E" << double(0x11223344);
    QTest::newRow("order too short") << 1 << 28672 << 6 << 2 << "1" << 5.0 << "" << 0.0;
    QTest::newRow("order digit too large") << 1 << 28672 << 6 << 2 << "31" << 5.0 << "" << 0.0;
    QTest::newRow("order digit zero") << 1 << 28672 << 6 << 2 << "20" << 5.0 << "" << 0.0;
    QTest::newRow("function 3 writes nothing") << 1 << 28672 << 3 << 2 << "21" << 5.0 << "" << 0.0;
    QTest::newRow("byte type not writable") << 1 << 28672 << 6 << 6 << "21" << 5.0 << "" << 0.0;
    QTest::newRow("not a number") << 1 << 28672 << 6 << 2 << "21" << std::nan("") << "" << 0.0;
}

void TestModbusFrames::writeRequest()
{
    QFETCH(int, addr);
    QFETCH(int, reg);
    QFETCH(int, writeCmd);
    QFETCH(int, valType);
    QFETCH(QString, order);
    QFETCH(double, value);
    QFETCH(QString, frame);
    QFETCH(double, carried);
    TagFixture fixture(addr, reg, 0, writeCmd, valType, order);
    double actual = -12345;
    const TStringBytes built = BuildModbusWriteRTU(*fixture.tag, value, &actual);
    QCOMPARE(HexOf(built), frame);
    if (!frame.isEmpty()) {
        QCOMPARE(actual, carried);
        QVERIFY(CheckModbusCRC(built));
    } else {
        QCOMPARE(actual, -12345.0);
    }
}

void TestModbusFrames::decode_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("readCmd");
    QTest::addColumn<int>("valType");
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("bitPos");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value"); // 777 = unchanged

    QTest::newRow("u16") << Hex("01 03 02 12 34 B5 33") << 3 << 2 << "21" << -1 << true << 4660.0;
    QTest::newRow("u16 low byte first") << Hex("01 03 02 12 34 B5 33") << 3 << 2 << "12" << -1 << true << 13330.0;
    QTest::newRow("input register") << Hex("01 04 02 00 49 78 C6") << 4 << 2 << "21" << -1 << true << 73.0;
    QTest::newRow("s16") << Hex("01 03 02 FF FE 78 34") << 3 << 4 << "21" << -1 << true << -2.0;
    QTest::newRow("high byte") << Hex("01 03 02 12 34 B5 33") << 3 << 7 << "21" << -1 << true << 18.0;
    QTest::newRow("low byte") << Hex("01 03 02 12 34 B5 33") << 3 << 6 << "21" << -1 << true << 52.0;
    QTest::newRow("float") << Hex("01 03 04 3F C0 00 00 00 00") << 3 << 0 << "4321" << -1 << true << 1.5;
    QTest::newRow("s32 word-swapped") << Hex("01 03 04 FF FE FF FF 00 00") << 3 << 5 << "2143" << -1 << true << -2.0;
    QTest::newRow("double") << Hex("01 03 08 40 09 21 FB 54 44 2D 18 00 00") << 3 << 1 << "87654321" << -1 << true
                            << 3.141592653589793;
    QTest::newRow("bit set") << Hex("01 03 02 08 00 BF 84") << 3 << 8 << "21" << 3 << true << 1.0;
    QTest::newRow("bit clear") << Hex("01 03 02 00 08 B9 82") << 3 << 8 << "21" << 3 << true << 0.0;
    QTest::newRow("bit tag without bit") << Hex("01 03 02 08 00 BF 84") << 3 << 8 << "21" << -1 << true << 777.0;
    QTest::newRow("coil on") << Hex("01 01 01 01 90 48") << 1 << 8 << "" << -1 << true << 1.0;
    QTest::newRow("nine coils rejected") << Hex("01 01 02 01 00 00 00") << 1 << 8 << "" << -1 << false << 777.0;
    QTest::newRow("byte count differs from size")
        << Hex("01 03 04 12 34 56 78 00 00") << 3 << 2 << "21" << -1 << false << 777.0;
    QTest::newRow("announces more than it holds") << Hex("01 03 04 12 34") << 3 << 3 << "4321" << -1 << false << 777.0;
    QTest::newRow("order does not fit") << Hex("01 03 02 12 34 B5 33") << 3 << 2 << "1" << -1 << false << 777.0;
    QTest::newRow("order digit zero") << Hex("01 03 02 12 34 B5 33") << 3 << 2 << "20" << -1 << false << 777.0;
    QTest::newRow("zero byte count") << Hex("01 03 00 00 00") << 3 << 2 << "21" << -1 << false << 777.0;
    QTest::newRow("too short") << Hex("01 03 02 12") << 3 << 2 << "21" << -1 << false << 777.0;
    QTest::newRow("one byte") << Hex("01") << 3 << 2 << "21" << -1 << false << 777.0;
    QTest::newRow("write echo read as answer")
        << Hex("01 06 70 00 25 80 88 3A") << 3 << 2 << "21" << -1 << false << 777.0;
    QTest::newRow("no read function") << Hex("01 03 02 12 34 B5 33") << 0 << 2 << "21" << -1 << true << 777.0;
}

void TestModbusFrames::decode()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, readCmd);
    QFETCH(int, valType);
    QFETCH(QString, order);
    QFETCH(int, bitPos);
    QFETCH(bool, ok);
    QFETCH(double, value);
    TagFixture fixture(1, 100, readCmd, 0, valType, order);
    fixture.tag->BitPos = bitPos;
    fixture.tag->SetValue(777);
    QCOMPARE(ParseModbusAnswer(answer, fixture.tag), ok);
    QCOMPARE(fixture.tag->Value(), value);
    QVERIFY(!fixture.tag->ModbusError);
}

void TestModbusFrames::decodeException_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("readCmd");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("codeText");
    QTest::newRow("holding") << Hex("01 83 02 C0 F1") << 3 << 2 << "02h";
    QTest::newRow("input") << Hex("01 84 02 C2 C1") << 4 << 2 << "02h";
    QTest::newRow("code 0x1F") << Hex("01 83 1F 00 00") << 3 << 31 << "1Fh";
    QTest::newRow("no code byte") << Hex("01 83") << 3 << 0 << "";
}

void TestModbusFrames::decodeException()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, readCmd);
    QFETCH(int, code);
    QFETCH(QString, codeText);
    TagFixture fixture(1, 100, readCmd, 0, 2, "21");
    fixture.tag->SetValue(5);
    QVERIFY(!ParseModbusAnswer(answer, fixture.tag));
    QVERIFY(fixture.tag->ModbusError);
    QCOMPARE(fixture.tag->ModbusErrorCode, code);
    QCOMPARE(fixture.tag->ModbusErrorCodeStr, codeText);
    QCOMPARE(fixture.tag->DataFull, answer);
    QCOMPARE(fixture.tag->Value(), 5.0);
}

void TestModbusFrames::blockAnswer()
{
    TzDevice device;
    QVERIFY(device.LoadFromRes("XMLDATA"));
    device.DevAddr = 1;
    TzTag *block = device.GetTagByID(600170);
    QVERIFY(block);
    block->SetValue(3);

    QByteArray answer = Hex("01 03 3C");
    for (int i = 0; i < 60; ++i)
        answer.append(char(i + 1));
    answer.append(Hex("00 00"));
    QCOMPARE(answer.size(), 65);
    QVERIFY(ParseModbusAnswer(answer, block));
    QCOMPARE(block->Data, answer.mid(3, 60));
    QCOMPARE(block->DataFull, answer);
    QCOMPARE(block->Value(), 3.0);

    // A short answer gives what it has, never more.
    QVERIFY(ParseModbusAnswer(answer.left(10), block));
    QCOMPARE(block->Data, answer.mid(3, 7));

    // Raw data is only defined in register order.
    block->Order = "12";
    QVERIFY(!ParseModbusAnswer(answer, block));
    QVERIFY(!ParseModbusAnswer(Hex("01 03 00 00 00"), device.GetTagByID(600470)));
}

void TestModbusFrames::laterAnswerClearsException()
{
    TagFixture fixture(1, 100, 3, 0, 2, "21");
    QVERIFY(!ParseModbusAnswer(Hex("01 83 02 C0 F1"), fixture.tag));
    QVERIFY(fixture.tag->ModbusError);
    QVERIFY(ParseModbusAnswer(Hex("01 03 02 12 34 B5 33"), fixture.tag));
    QVERIFY(!fixture.tag->ModbusError);
    QCOMPARE(fixture.tag->Value(), 4660.0);
    QCOMPARE(fixture.tag->ModbusErrorCode, 2); // the last exception stays on record
}

void TestModbusFrames::applyAnswerSetsQuality()
{
    TagFixture fixture(1, 100, 3, 0, 2, "21");
    TzModbusAnswer record;
    record.Tag = fixture.tag;
    QVERIFY(ApplyModbusAnswer(record, Hex("01 03 02 12 34 B5 33"), 0));
    QCOMPARE(fixture.tag->Quality(), QualityGood);
    QVERIFY(!ApplyModbusAnswer(record, Hex("01 83 02 C0 F1"), 0));
    QCOMPARE(fixture.tag->Quality(), QualityRejected);
    QVERIFY(!ApplyModbusAnswer(record, Hex("01 03 02 00 01 79 84"), 512));
    QCOMPARE(fixture.tag->Quality(), QualityFailed);
    QCOMPARE(fixture.tag->Value(), 4660.0);
    record.Mode = mmASCII;
    QVERIFY(!ApplyModbusAnswer(record, Hex("01 03 02 00 01 79 84"), 0));
    QCOMPARE(fixture.tag->Quality(), QualityRejected);
}

QTEST_GUILESS_MAIN(TestModbusFrames)
#include "tst_ModbusFrames.moc"
