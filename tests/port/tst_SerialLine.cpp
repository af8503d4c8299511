// The POSIX serial layer on pseudo-terminals: the Win32 read rule, exclusive use, line settings,
// and Close() or an unplugged line ending a pending read.

#include "PortTestPeers.h"
#include "port/uSerialLine.h"

#include <QElapsedTimer>
#include <QtTest>

#include <thread>

#include <unistd.h>

class TestSerialLine : public QObject
{
    Q_OBJECT

private slots:
    void bytesPassBothWays();
    void readEndsAt255Bytes();
    void readEndsAfterAGap();
    void readEndsAtTotalTimeDuringATrickle();
    void silentReadCostsTheTotalTime();
    void openIsExclusive();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void unsupportedSettingsAreRefused();
    void closeEndsAPendingRead();
    void unpluggedLineEndsTheReadAndFailsErrorCheck();
};

namespace {

bool OpenLine(TzSerialLine &aLine, const TPtyPair &aPty, const TzLineTimeouts &aTimeouts)
{
    TzLineState state;
    state.BaudRate = 9600;
    return aLine.Open(aPty.SlavePath.toStdString()) && aLine.SetState(state) && aLine.SetTimeouts(aTimeouts);
}

void WriteMaster(const TPtyPair &aPty, const QByteArray &aBytes)
{
    [[maybe_unused]] const ssize_t n = ::write(aPty.MasterFd, aBytes.constData(), size_t(aBytes.size()));
}

// One read of up to 255 bytes: what it gave (nothing when the read failed) and how long it took.
struct TRead
{
    bool Ok = false;
    QByteArray Bytes;
    qint64 Ms = 0;
};

TRead ReadOnce(TzSerialLine &aLine)
{
    uint8_t buffer[255];
    uint32_t read = 256; // no read can give it: a read that does not set the count fails here
    QElapsedTimer timer;
    timer.start();
    TRead result;
    result.Ok = aLine.Read(buffer, 255, read) && read <= 255;
    result.Ms = timer.elapsed();
    if (result.Ok)
        result.Bytes = QByteArray(reinterpret_cast<const char *>(buffer), int(read));
    return result;
}

// Starts a read that waits without limit on its own thread and gives the thread; aDone is set when
// the read comes back.
std::jthread PendingRead(TzSerialLine &aLine, std::atomic<bool> &aDone)
{
    return std::jthread([&aLine, &aDone] {
        ReadOnce(aLine);
        aDone = true;
    });
}

} // namespace

void TestSerialLine::bytesPassBothWays()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {50, 0, 500, 0, 0}));
    const QByteArray frame = Hex("01 03 00 00 00 01 84 0A");
    uint32_t written = 0;
    QVERIFY(line.Write(reinterpret_cast<const uint8_t *>(frame.constData()), uint32_t(frame.size()), written));
    QCOMPARE(written, 8u);
    char got[16];
    QCOMPARE(::read(pty.MasterFd, got, sizeof got), ssize_t(8));
    QCOMPARE(QByteArray(got, 8), frame);

    WriteMaster(pty, Hex("01 03 02 12 34 B5 33"));
    const TRead answer = ReadOnce(line);
    QVERIFY(answer.Ok);
    QCOMPARE(answer.Bytes, Hex("01 03 02 12 34 B5 33"));
}

void TestSerialLine::readEndsAt255Bytes()
{
    TPtyPair pty;
    TzSerialLine line;
    // Without the 255-byte rule this read would wait a minute.
    QVERIFY(OpenLine(line, pty, {0, 0, 60000, 0, 0}));
    WriteMaster(pty, QByteArray(300, '\x55'));
    const TRead first = ReadOnce(line);
    QVERIFY(first.Ok);
    QCOMPARE(first.Bytes.size(), 255);
    QVERIFY(first.Ms < 30000);
}

void TestSerialLine::readEndsAfterAGap()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {100, 0, 0, 0, 0}));
    std::jthread writer([&] {
        WriteMaster(pty, "abc");
        ::usleep(800 * 1000);
        WriteMaster(pty, "def");
    });
    const TRead first = ReadOnce(line);
    writer.join();
    QVERIFY(first.Ok);
    QCOMPARE(first.Bytes, QByteArray("abc"));
    // The rest waits for the next read.
    const TRead second = ReadOnce(line);
    QVERIFY(second.Ok);
    QCOMPARE(second.Bytes, QByteArray("def"));
}

void TestSerialLine::readEndsAtTotalTimeDuringATrickle()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {500, 0, 300, 0, 0}));
    std::atomic<bool> stop{false};
    std::jthread writer([&] {
        for (int i = 0; i < 100 && !stop; ++i) {
            WriteMaster(pty, "x");
            ::usleep(30 * 1000);
        }
    });
    const TRead trickle = ReadOnce(line);
    stop = true;
    writer.join();
    QVERIFY(trickle.Ok);
    QVERIFY2(trickle.Bytes.size() > 0 && trickle.Bytes.size() < 100, qPrintable(QString::number(trickle.Bytes.size())));
    QVERIFY(trickle.Ms >= 295);
}

void TestSerialLine::silentReadCostsTheTotalTime()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {50, 1, 400, 50, 100}));
    const TRead silence = ReadOnce(line);
    QVERIFY(silence.Ok);
    QCOMPARE(silence.Bytes, QByteArray());
    QVERIFY2(silence.Ms >= 650, qPrintable(QString::number(silence.Ms)));
}

void TestSerialLine::openIsExclusive()
{
    TPtyPair pty;
    TzSerialLine first;
    TzSerialLine second;
    QVERIFY(first.Open(pty.SlavePath.toStdString()));
    QVERIFY(!second.Open(pty.SlavePath.toStdString()));
    QVERIFY(first.Close());
    QVERIFY(second.Open(pty.SlavePath.toStdString()));
    QVERIFY(!first.Open("/dev/quadrel-no-such-port"));
}

void TestSerialLine::settingsRoundTrip_data()
{
    QTest::addColumn<uint>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("9600 8N1") << 9600u << int(DcbCode::NoParity) << int(DcbCode::OneStopBit);
    QTest::newRow("19200 8O1") << 19200u << int(DcbCode::OddParity) << int(DcbCode::OneStopBit);
    QTest::newRow("57600 8E1") << 57600u << int(DcbCode::EvenParity) << int(DcbCode::OneStopBit);
    QTest::newRow("115200 8N2") << 115200u << int(DcbCode::NoParity) << int(DcbCode::TwoStopBits);
}

void TestSerialLine::settingsRoundTrip()
{
    QFETCH(uint, baud);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(line.Open(pty.SlavePath.toStdString()));
    TzLineState state;
    QVERIFY(line.GetState(state));
    state.BaudRate = baud;
    state.ByteSize = 8;
    state.Parity = uint8_t(parity);
    state.StopBits = uint8_t(stopBits);
    QVERIFY(line.SetState(state));
    TzLineState back;
    QVERIFY(line.GetState(back));
    QCOMPARE(back.BaudRate, baud);
    QCOMPARE(int(back.ByteSize), 8);
    // A pty drops the parity bits of its termios, so parity cannot be read back here.
    QCOMPARE(int(back.StopBits), stopBits);
    QVERIFY(back.Flags & DcbFlag::Binary);
}

void TestSerialLine::unsupportedSettingsAreRefused()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(line.Open(pty.SlavePath.toStdString()));
    TzLineState good;
    good.BaudRate = 9600;
    QVERIFY(line.SetState(good));
    for (auto change : {+[](TzLineState &s) { s.BaudRate = 0; }, +[](TzLineState &s) { s.ByteSize = 9; },
                        +[](TzLineState &s) { s.Parity = 5; }, +[](TzLineState &s) { s.StopBits = 3; }}) {
        TzLineState bad = good;
        change(bad);
        QVERIFY(!line.SetState(bad));
    }
    // A refused state leaves the line as it was.
    TzLineState back;
    QVERIFY(line.GetState(back));
    QCOMPARE(back.BaudRate, 9600u);
    // Nothing works on a closed line.
    QVERIFY(line.Close());
    QVERIFY(!line.GetState(back));
    QVERIFY(!line.ClearErrors());
}

void TestSerialLine::closeEndsAPendingRead()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {0, 0, 0, 0, 0})); // reads wait without limit
    std::atomic<bool> done{false};
    std::jthread reader = PendingRead(line, done);
    QTest::qWait(100);
    QVERIFY(!done);
    // Asking whether the line is open must not wait for the pending read.
    QVERIFY(line.IsOpen());
    QVERIFY(line.Close());
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    reader.join();
    QVERIFY(!line.IsOpen());
}

void TestSerialLine::unpluggedLineEndsTheReadAndFailsErrorCheck()
{
    TPtyPair pty;
    TzSerialLine line;
    QVERIFY(OpenLine(line, pty, {0, 0, 0, 0, 0}));
    QVERIFY(line.ClearErrors());
    std::atomic<bool> done{false};
    std::jthread reader = PendingRead(line, done);
    pty.Unplug();
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    reader.join();
    QVERIFY(!line.ClearErrors());
    QVERIFY(line.Close());
}

QTEST_GUILESS_MAIN(TestSerialLine)
#include "tst_SerialLine.moc"
