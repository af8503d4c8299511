// The simulator on a pseudo-terminal: libmodbus as the independent master, and a raw line for
// what libmodbus would hide (framing by silence, bad CRCs, late answers, the frame log).

#include "SimTestHelpers.h"
#include "sim/uSimulator.h"

#include <modbus.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fstream>

class tst_SimSerial : public QObject
{
    Q_OBJECT

    std::unique_ptr<TzSimulator> fSim;
    std::string fPath;
    modbus_t *fCtx = nullptr;

    bool ConnectModbus(int aBaudRate = 9600, int aSlave = 16)
    {
        fCtx = modbus_new_rtu(fPath.c_str(), aBaudRate, 'N', 8, 1);
        if (fCtx == nullptr || modbus_connect(fCtx) != 0)
            return false;
        modbus_set_slave(fCtx, aSlave);
        modbus_set_response_timeout(fCtx, 2, 0); // generous: the machine is shared
        return true;
    }
    std::optional<uint16_t> ModuleReg(uint16_t aReg) { return fSim->Bus().ReadRegister(16, aReg); }

private slots:
    void init()
    {
        fSim = std::make_unique<TzSimulator>();
        QVERIFY(fSim->Bus().AddModule(16));
        fPath = fSim->StartPty();
        QVERIFY2(!fPath.empty(), fSim->Serial().LastError().c_str());
        QVERIFY(QString::fromStdString(fPath).startsWith("/dev/pts/"));
    }
    void cleanup()
    {
        if (fCtx != nullptr) {
            modbus_close(fCtx);
            modbus_free(fCtx);
            fCtx = nullptr;
        }
        fSim.reset();
    }

    void libmodbusSeesTheModule()
    {
        QVERIFY(ConnectModbus());
        uint16_t regs[30] = {};
        QCOMPARE(modbus_read_input_registers(fCtx, 36864, 1, regs), 1);
        QCOMPARE(regs[0], uint16_t(73));

        fSim->Bus().WithModule(16, [](TzSimModule &m, uint64_t now) { m.SetPwm(11, 3, 777, 333, now); });
        QCOMPARE(modbus_read_registers(fCtx, 60017, 30, regs), 30);
        QCOMPARE(regs[0], uint16_t(1));
        QCOMPARE(regs[1], uint16_t(50));
        QCOMPARE(modbus_read_registers(fCtx, 60047, 30, regs), 30);
        QCOMPARE(regs[0], uint16_t(3));
        QCOMPARE(regs[1], uint16_t(777));
        QCOMPARE(regs[2], uint16_t(333));

        QCOMPARE(modbus_write_bit(fCtx, 4096, 1), 1);
        QCOMPARE(modbus_read_registers(fCtx, 60016, 1, regs), 1);
        // Output 1 by its coil; output 11 is in the closed part of its first 23 s pulse cycle.
        QCOMPARE(regs[0], uint16_t(0x0401));

        // 0x55AA to 60000: output 1 (safe open) opens, output 3 (safe closed) closes.
        QCOMPARE(modbus_write_bit(fCtx, 4096 + 2 * 128 + 8, 1), 1);
        QCOMPARE(modbus_write_register(fCtx, 60000, 0x55AA), 1);
        QCOMPARE(modbus_read_registers(fCtx, 60016, 1, regs), 1);
        QCOMPARE(regs[0], uint16_t(0x0004));

        errno = 0;
        QCOMPARE(modbus_read_registers(fCtx, 60012, 1, regs), -1);
        QCOMPARE(errno, int(EMBXILADD));
        errno = 0;
        QCOMPARE(modbus_write_register(fCtx, 4101, 1001), -1);
        QCOMPARE(errno, int(EMBXILVAL));
    }

    void frameLogHoldsExactlyWhatCrossed()
    {
        TSimRawLine line(fPath);
        QVERIFY(line.Ok());
        const TSimBytes probe = WithCrc({16, 4, 0x90, 0x00, 0x00, 0x01});
        const TSimBytes answer = line.Exchange(probe);
        QCOMPARE(answer, WithCrc({16, 4, 2, 0, 73}));
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(2), 5000);
        const auto entries = fSim->Log().Entries();
        QCOMPARE(entries[0].Direction, TzSimDirection::Received);
        QCOMPARE(entries[0].Frame, probe);
        QCOMPARE(entries[1].Direction, TzSimDirection::Sent);
        QCOMPARE(entries[1].Frame, answer);
        QVERIFY(entries[0].Wrapper.empty());
        QVERIFY(entries[1].TickMs >= entries[0].TickMs);
    }

    void silenceFramesRequests()
    {
        TSimRawLine line(fPath);
        QVERIFY(line.Ok());
        const TSimBytes a = WithCrc({16, 3, 0xEA, 0x70, 0, 1});
        const TSimBytes b = WithCrc({16, 4, 0x90, 0x00, 0, 1});
        // One frame in two writes with no pause: still one request.
        line.Write(TSimBytes(a.begin(), a.begin() + 3));
        line.Write(TSimBytes(a.begin() + 3, a.end()));
        QCOMPARE(line.Read(2000), WithCrc({16, 3, 2, 0, 0}));
        // Two requests without the silence between them are one frame whose CRC fails: no answer.
        TSimBytes both = a;
        both.insert(both.end(), b.begin(), b.end());
        QVERIFY(line.Exchange(both, 300).empty());
        QTRY_VERIFY_WITH_TIMEOUT(!fSim->Log().Entries().empty() && fSim->Log().Entries().back().Frame == both, 5000);
        // A frame with a bad CRC, or one for another address, is logged and not answered.
        TSimBytes bad = b;
        bad.back() ^= 0x01;
        QVERIFY(line.Exchange(bad, 300).empty());
        QVERIFY(line.Exchange(WithCrc({17, 4, 0x90, 0x00, 0, 1}), 300).empty());
        // The line works on as before.
        QCOMPARE(line.Exchange(b), WithCrc({16, 4, 2, 0, 73}));
        const auto received = fSim->Log().Frames(TzSimDirection::Received);
        QCOMPARE(received.size(), size_t(5));
        QCOMPARE(received[2], bad);
        // The log says why each unanswered request went unanswered.
        const auto entries = fSim->Log().Entries();
        QCOMPARE(entries[2].Note, std::string("bad CRC"));
        QCOMPARE(entries[3].Note, std::string("bad CRC"));
        QCOMPARE(entries[4].Note, std::string("no slave at 17"));
        QVERIFY(entries[5].Note.empty());
    }

    void moduleAnswersOnlyAtItsSpeed()
    {
        {
            TSimRawLine line(fPath, 19200);
            QVERIFY(line.Ok());
            QVERIFY(line.Exchange(WithCrc({16, 4, 0x90, 0x00, 0, 1}), 300).empty());
            QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(1), 5000);
            QCOMPARE(fSim->Log().Entries()[0].Note, std::string("line settings differ from the slave's"));
        }
        // Speed code 5 (19200) and a restart: now 19200 is heard and 9600 is not.
        QVERIFY(ConnectModbus());
        QCOMPARE(modbus_write_register(fCtx, 28672, 5), 1);
        QCOMPARE(modbus_write_register(fCtx, 60000, 0x55AA), 1);
        TSimRawLine line(fPath, 19200);
        QCOMPARE(line.Exchange(WithCrc({16, 4, 0x90, 0x00, 0, 1})), WithCrc({16, 4, 2, 0, 73}));
        QVERIFY(SimApplyLineSettings(line.Fd(), 9600, 'N', 1));
        QVERIFY(line.Exchange(WithCrc({16, 4, 0x90, 0x00, 0, 1}), 300).empty());
        // With the check off every speed is heard.
        fSim->Serial().SetCheckLineSpeed(false);
        QCOMPARE(line.Exchange(WithCrc({16, 4, 0x90, 0x00, 0, 1})), WithCrc({16, 4, 2, 0, 73}));
    }

    void faultsOnDemand()
    {
        TSimRawLine line(fPath);
        QVERIFY(line.Ok());
        const TSimBytes probe = WithCrc({16, 4, 0x90, 0x00, 0, 1});
        const TSimBytes good = WithCrc({16, 4, 2, 0, 73});

        fSim->Faults().SetSilent(true);
        QVERIFY(line.Exchange(probe, 300).empty());
        fSim->Faults().SetSilent(false);

        fSim->Faults().SetCorruptCrc(true);
        TSimBytes corrupt = line.Exchange(probe);
        QCOMPARE(corrupt.size(), good.size());
        QVERIFY(!CheckModbusCRC(corrupt.data(), int(corrupt.size())));
        fSim->Faults().SetCorruptCrc(false);

        // A delayed answer comes, but not at once.
        fSim->Faults().SetAnswerDelay(400);
        QVERIFY(line.Exchange(probe, 100).empty());
        QCOMPARE(line.Read(5000), good);
        fSim->Faults().SetAnswerDelay(0);

        // A stale answer: the first request's answer arrives after the second one's.
        fSim->Faults().SetStaleAnswers(1, 500);
        QVERIFY(line.Exchange(probe, 100).empty());
        const TSimBytes second = WithCrc({16, 3, 0xEA, 0x70, 0, 1});
        QCOMPARE(line.Exchange(second), WithCrc({16, 3, 2, 0, 0}));
        QCOMPARE(line.Read(5000), good);
        const auto entries = fSim->Log().Entries();
        QCOMPARE(entries.back().Frame, good);
        QCOMPARE(entries.back().Note, std::string("stale"));
    }

    void stopsPromptlyWithAnAnswerPending()
    {
        TSimRawLine line(fPath);
        fSim->Faults().SetAnswerDelay(60000);
        line.Write(WithCrc({16, 4, 0x90, 0x00, 0, 1}));
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(1), 5000);
        QElapsedTimer timer;
        timer.start();
        fSim->Stop();
        QVERIFY(timer.elapsed() < 30000); // far below the pending answer's minute
        QVERIFY(line.Read(200).empty());
        QVERIFY(!fSim->Serial().Running());
    }

    void frameLogFile()
    {
        QTemporaryDir dir;
        const std::string file = dir.filePath("frames.txt").toStdString();
        QVERIFY(fSim->Log().OpenFile(file));
        TSimRawLine line(fPath);
        QCOMPARE(line.Exchange(WithCrc({16, 4, 0x90, 0x00, 0, 1})), WithCrc({16, 4, 2, 0, 73}));
        QTRY_COMPARE_WITH_TIMEOUT(fSim->Log().Count(), size_t(2), 5000);
        fSim->Log().CloseFile();
        std::ifstream in(file);
        std::string rx, tx;
        std::getline(in, rx);
        std::getline(in, tx);
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ");
        QVERIFY(stamp.match(QString::fromStdString(rx)).hasMatch());
        QVERIFY2(QString::fromStdString(rx).endsWith(
                     "RX serial  10 04 90 00 00 01 "
                     + QString::fromStdString(TzSimFrameLog::Hex(
                         {WithCrc({16, 4, 0x90, 0, 0, 1}).end()[-2], WithCrc({16, 4, 0x90, 0, 0, 1}).end()[-1]}))),
                 rx.c_str());
        QVERIFY2(QString::fromStdString(tx).contains("TX serial  10 04 02 00 49 "), tx.c_str());
    }

    void servesAGivenDevice()
    {
        // The "device" here is the slave side of a pty this test creates; the simulator opens it
        // by path at 9600 8E1 and the test talks through the master.
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        const std::string slave = ptsname(master);
        TzSimulator sim;
        QVERIFY(sim.Bus().AddModule(16));
        sim.Bus().WithModule(16, [](TzSimModule &m, uint64_t now) {
            m.WriteRegister(28673, 6, now); // RTU 8E1
            m.Restart(now);
        });
        QVERIFY2(sim.StartSerialDevice(slave, 9600, 'E', 1), sim.Serial().LastError().c_str());
        const TSimBytes probe = WithCrc({16, 4, 0x90, 0x00, 0, 1});
        [[maybe_unused]] ssize_t n = write(master, probe.data(), probe.size());
        TSimBytes answer;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     uint8_t buf[64];
                                     const ssize_t got = read(master, buf, sizeof buf);
                                     if (got > 0)
                                         answer.insert(answer.end(), buf, buf + got);
                                     return answer.size() >= 7;
                                 }()),
                                 5000);
        QCOMPARE(answer, WithCrc({16, 4, 2, 0, 73}));
        sim.Stop();
        close(master);
        QVERIFY(!sim.StartSerialDevice("/nonexistent/tty", 9600, 'N', 1));
        QVERIFY(!sim.Serial().LastError().empty());
    }
};

QTEST_GUILESS_MAIN(tst_SimSerial)
#include "tst_SimSerial.moc"
