// The partial serial settings, the Win32 read-end rule they feed, and the read's decisions
// under that rule against a scripted line.

#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"
#include "port/uReadProgress.h"
#include "port/uSerialLine.h"
#include "port/uSerialSettings.h"

#include <QtTest>

class TestSerialSettings : public QObject
{
    Q_OBJECT

private slots:
    void clearedDcbChangesNothingButTheBinaryBitOnOpen();
    void dcbOverlay_data();
    void dcbOverlay();
    void charactersApplyOnlyWhenSet();
    void timeoutsOverlayOnlySetFields();
    void readEndRule_data();
    void readEndRule();
    void readDecisions_data();
    void readDecisions();
    void comDevicePath_data();
    void comDevicePath();
};

namespace {

TzLineState SampleState()
{
    TzLineState s;
    s.BaudRate = 19200;
    s.Flags = 0x4011;
    s.XonLim = 2048;
    s.XoffLim = 512;
    s.ByteSize = 7;
    s.Parity = DcbCode::EvenParity;
    s.StopBits = DcbCode::TwoStopBits;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    return s;
}

bool Same(const TzLineState &a, const TzLineState &b)
{
    return a.BaudRate == b.BaudRate && a.Flags == b.Flags && a.XonLim == b.XonLim && a.XoffLim == b.XoffLim
           && a.ByteSize == b.ByteSize && a.Parity == b.Parity && a.StopBits == b.StopBits && a.XonChar == b.XonChar
           && a.XoffChar == b.XoffChar && a.ErrorChar == b.ErrorChar && a.EofChar == b.EofChar
           && a.EvtChar == b.EvtChar;
}

QByteArray WithCrc(QByteArray aFrame)
{
    const uint16_t crc = CalcModbusCRC(reinterpret_cast<const uint8_t *>(aFrame.constData()), int(aFrame.size()));
    return aFrame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// One chunk of bytes on the line, aAtUs after the read began.
struct TChunk
{
    quint64 AtUs;
    QByteArray Bytes;
};
using TScript = QList<TChunk>;

// Plays a scripted line to the read's decisions as the POSIX read does: take what is there (as
// much as asked), else wait until the next chunk or the deadline. Returns the bytes handed over
// and when the read ended.
QByteArray PlayRead(const TzReadEndRule &aRule, uint32_t aCount, const TzAnswerNeed *aNeed, const TScript &aScript,
                    quint64 &aEndUs)
{
    QByteArray line;
    TzReadProgress progress(aRule, aCount, aNeed);
    QByteArray buffer(int(aCount), 0);
    quint64 now = 0;
    int next = 0;
    for (int steps = 0; steps < 10000; ++steps) {
        while (next < aScript.size() && aScript[next].AtUs <= now)
            line += aScript[next++].Bytes;
        const uint32_t want = progress.Want(reinterpret_cast<const uint8_t *>(buffer.constData()));
        if (want == 0)
            break;
        const uint32_t taken = std::min<uint32_t>(want, uint32_t(line.size()));
        if (taken > 0) {
            buffer.replace(int(progress.Count()), int(taken), line.left(int(taken)));
            line.remove(0, int(taken));
            if (progress.Received(taken, now))
                break;
            continue;
        }
        const std::optional<uint64_t> wait = progress.WaitUs(now);
        if (!wait)
            break;
        const quint64 nextAt = next < aScript.size() ? aScript[next].AtUs : UINT64_MAX;
        if (*wait == UINT64_MAX && nextAt == UINT64_MAX)
            break; // would wait for ever
        now = std::min<quint64>(nextAt, *wait == UINT64_MAX ? UINT64_MAX : now + *wait);
    }
    aEndUs = now;
    return buffer.left(int(progress.Count()));
}

} // namespace

Q_DECLARE_METATYPE(TScript)

void TestSerialSettings::clearedDcbChangesNothingButTheBinaryBitOnOpen()
{
    TzDCB dcb;
    TzLineState state = SampleState();
    state.Flags = 0x4010;
    dcb.AssignTo(state);
    TzLineState expected = SampleState();
    expected.Flags = 0x4010;
    QVERIFY(Same(state, expected));

    // What the engine does on open: the binary bit is added to the line's own flags.
    dcb.Flags = DcbFlag::Binary;
    dcb.AssignTo(state);
    QCOMPARE(state.Flags, 0x4011u);
}

void TestSerialSettings::dcbOverlay_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("onlyMyFlags");
    QTest::addColumn<uint>("expected");

    QTest::newRow("baud set") << "BaudRate" << 115200 << false << 115200u;
    QTest::newRow("baud 2147483647 reads as unset") << "BaudRate" << 2147483647 << false << 19200u;
    QTest::newRow("flags are added") << "Flags" << 0x0004 << false << 0x4015u;
    QTest::newRow("only my flags replaces") << "Flags" << 0x0004 << true << 0x0004u;
    QTest::newRow("only my flags, flags unset, gives 0") << "Flags" << 2147483647 << true << 0u;
    QTest::newRow("XonLim 70000 truncated to 16 bits") << "XonLim" << 70000 << false << 4464u;
    QTest::newRow("XoffLim") << "XoffLim" << 100 << false << 100u;
    QTest::newRow("ByteSize") << "ByteSize" << 8 << false << 8u;
    QTest::newRow("ByteSize 264 truncated to 8 bits") << "ByteSize" << 264 << false << 8u;
    QTest::newRow("Parity odd") << "Parity" << 1 << false << 1u;
    QTest::newRow("StopBits one") << "StopBits" << 0 << false << 0u;
}

void TestSerialSettings::dcbOverlay()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(bool, onlyMyFlags);
    QFETCH(uint, expected);

    TzDCB dcb;
    dcb.OnlyMyFlags = onlyMyFlags;
    int32_t *target = field == "BaudRate"   ? &dcb.BaudRate
                      : field == "Flags"    ? &dcb.Flags
                      : field == "XonLim"   ? &dcb.XonLim
                      : field == "XoffLim"  ? &dcb.XoffLim
                      : field == "ByteSize" ? &dcb.ByteSize
                      : field == "Parity"   ? &dcb.Parity
                                            : &dcb.StopBits;
    *target = value;
    TzLineState state = SampleState();
    dcb.AssignTo(state);
    const uint actual = field == "BaudRate"   ? state.BaudRate
                        : field == "Flags"    ? state.Flags
                        : field == "XonLim"   ? state.XonLim
                        : field == "XoffLim"  ? state.XoffLim
                        : field == "ByteSize" ? state.ByteSize
                        : field == "Parity"   ? state.Parity
                                              : state.StopBits;
    QCOMPARE(actual, expected);
}

void TestSerialSettings::charactersApplyOnlyWhenSet()
{
    TzDCB dcb;
    TzLineState state = SampleState();
    dcb.AssignTo(state);
    QCOMPARE(state.EofChar, char(0));

    dcb.SetEofChar('\x1a');
    dcb.SetXoffChar('\x19');
    QVERIFY(dcb.bEofChar && dcb.bXoffChar && !dcb.bXonChar);
    dcb.AssignTo(state);
    QCOMPARE(state.EofChar, '\x1a');
    QCOMPARE(state.XoffChar, '\x19');
    QCOMPARE(state.XonChar, '\x11');

    // Clear drops the flags but keeps the characters.
    dcb.Clear();
    QVERIFY(!dcb.bEofChar);
    QCOMPARE(dcb.EofChar(), '\x1a');
}

void TestSerialSettings::timeoutsOverlayOnlySetFields()
{
    TzLineTimeouts line{7, 7, 7, 7, 7};
    TzTimeouts timeouts;
    timeouts.AssignTo(line);
    QCOMPARE(line.ReadIntervalTimeout, 7u);

    // The panel's time-outs.
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 400;
    timeouts.WriteTotalTimeoutConstant = 100;
    timeouts.AssignTo(line);
    QCOMPARE(line.ReadIntervalTimeout, 50u);
    QCOMPARE(line.ReadTotalTimeoutMultiplier, 1u);
    QCOMPARE(line.ReadTotalTimeoutConstant, 400u);
    QCOMPARE(line.WriteTotalTimeoutMultiplier, 7u);
    QCOMPARE(line.WriteTotalTimeoutConstant, 100u);

    // Choosing all five leaves nothing of the line's own.
    timeouts.ChooseAll({60, 2, 300, 40, 90});
    timeouts.AssignTo(line);
    QCOMPARE(line.ReadIntervalTimeout, 60u);
    QCOMPARE(line.ReadTotalTimeoutMultiplier, 2u);
    QCOMPARE(line.ReadTotalTimeoutConstant, 300u);
    QCOMPARE(line.WriteTotalTimeoutMultiplier, 40u);
    QCOMPARE(line.WriteTotalTimeoutConstant, 90u);
}

void TestSerialSettings::readEndRule_data()
{
    QTest::addColumn<uint>("interval");
    QTest::addColumn<uint>("multiplier");
    QTest::addColumn<uint>("constant");
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<bool>("firstByte");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("gap");

    const quint64 none = UINT64_MAX;
    QTest::newRow("panel: 50 gap, 655 total") << 50u << 1u << 400u << false << false << quint64(655) << quint64(50);
    QTest::newRow("search: 10 gap, constant only")
        << 10u << 0u << 300u << false << false << quint64(300) << quint64(10);
    QTest::newRow("no time-outs: wait for all bytes") << 0u << 0u << 0u << false << false << none << none;
    QTest::newRow("MAXDWORD, 0, 0: return at once") << 0xFFFFFFFFu << 0u << 0u << true << false << none << none;
    QTest::newRow("MAXDWORD, MAXDWORD, c: first byte")
        << 0xFFFFFFFFu << 0xFFFFFFFFu << 250u << false << true << quint64(250) << none;
    QTest::newRow("large multiplier does not overflow")
        << 0u << 0xFFFFFFFEu << 5u << false << false << quint64(0xFFFFFFFEull * 255 + 5) << none;
}

void TestSerialSettings::readEndRule()
{
    QFETCH(uint, interval);
    QFETCH(uint, multiplier);
    QFETCH(uint, constant);
    const TzReadEndRule rule = TzReadEndRule::From(TzLineTimeouts{interval, multiplier, constant, 0, 0}, 255);
    QTEST(rule.ReturnAtOnce, "atOnce");
    QTEST(rule.ReturnOnFirstByte, "firstByte");
    QTEST(quint64(rule.TotalMs), "total");
    QTEST(quint64(rule.IntervalMs), "gap");
}

void TestSerialSettings::readDecisions_data()
{
    QTest::addColumn<uint>("interval");
    QTest::addColumn<uint>("constant");
    QTest::addColumn<bool>("byLength");
    QTest::addColumn<TScript>("script");
    QTest::addColumn<int>("count");
    QTest::addColumn<quint64>("endUs");

    // The probe of the device type at address 1 and its answer (73), 7 bytes.
    const QByteArray answer = WithCrc(QByteArray::fromHex("01040200 49"));
    const QByteArray head = answer.left(4), rest = answer.mid(4);
    const QByteArray noise = QByteArray::fromHex("FFFF");
    QTest::newRow("silence: ends one gap after the last byte")
        << 20u << 1000u << false << TScript{{0, head}, {5000, rest}} << 7 << quint64(25000);
    QTest::newRow("silence: bytes after the answer spoil nothing yet, all taken")
        << 20u << 1000u << false << TScript{{0, head}, {5000, rest}, {6000, noise}} << 9 << quint64(26000);
    QTest::newRow("length: ends the moment the answer is whole")
        << 20u << 1000u << true << TScript{{0, head}, {5000, rest}, {6000, noise}} << 7 << quint64(5000);
    QTest::newRow("length: a gap inside the answer ends it as silence would")
        << 20u << 1000u << true << TScript{{0, head}, {30000, rest}} << 4 << quint64(20000);
    QTest::newRow("length: a bad checksum falls back to silence")
        << 20u << 1000u << true << TScript{{0, head}, {1000, QByteArray(3, '\0')}} << 7 << quint64(21000);
    QTest::newRow("total: a trickle ends at the total time-out")
        << 20u << 50u << false << TScript{{0, "a"}, {15000, "b"}, {30000, "c"}, {45000, "d"}, {60000, "e"}} << 4
        << quint64(50000);
    QTest::newRow("total: a silent line costs the total time-out")
        << 20u << 50u << true << TScript{} << 0 << quint64(50000);
}

void TestSerialSettings::readDecisions()
{
    QFETCH(uint, interval);
    QFETCH(uint, constant);
    QFETCH(bool, byLength);
    QFETCH(TScript, script);
    const QByteArray request = WithCrc(QByteArray::fromHex("01049000 0001"));
    const TzAnswerNeed need = [&request](const uint8_t *aBytes, uint32_t aCount) {
        return AnswerBytesNeeded(reinterpret_cast<const uint8_t *>(request.constData()), uint32_t(request.size()),
                                 aBytes, aCount);
    };
    const TzReadEndRule rule = TzReadEndRule::From(TzLineTimeouts{interval, 0, constant, 0, 0}, 255);
    quint64 endUs = 0;
    const QByteArray read = PlayRead(rule, 255, byLength ? &need : nullptr, script, endUs);
    QTEST(int(read.size()), "count");
    QTEST(endUs, "endUs");
    QByteArray sent;
    for (const TChunk &chunk : script)
        sent += chunk.Bytes;
    QCOMPARE(read, sent.left(read.size()));
}

void TestSerialSettings::comDevicePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("COM1") << "COM1" << "COM1";
    QTest::newRow("COM9") << "COM9" << "COM9";
    QTest::newRow("COM10") << "COM10" << "\\\\.\\COM10";
    QTest::newRow("COM255") << "COM255" << "\\\\.\\COM255";
    QTest::newRow("device path unchanged") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
}

void TestSerialSettings::comDevicePath()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(Win32ComDevicePath(name.toStdString())), path);
}

QTEST_GUILESS_MAIN(TestSerialSettings)
#include "tst_SerialSettings.moc"
