// The simulated module's register logic without a line: requests through the bus (CRC and
// addressing included), time driven by an injected clock.

#include "SimTestHelpers.h"
#include "sim/uSimBus.h"

#include <QtTest>

#include <set>

Q_DECLARE_METATYPE(TSimBytes)

namespace {

TSimBytes Pdu(std::initializer_list<int> aBytes)
{
    TSimBytes pdu;
    for (int b : aBytes)
        pdu.push_back(static_cast<uint8_t>(b));
    return pdu;
}

TSimBytes Read(uint8_t aFn, uint16_t aReg, uint16_t aCount)
{
    return Pdu({aFn, aReg >> 8, aReg & 0xFF, aCount >> 8, aCount & 0xFF});
}

TSimBytes Write(uint8_t aFn, uint16_t aReg, uint16_t aValue)
{
    return Read(aFn, aReg, aValue); // same layout: function, address, 16-bit value
}

TSimBytes WriteMany(uint16_t aReg, std::vector<uint16_t> aValues)
{
    TSimBytes pdu = Pdu({16, aReg >> 8, aReg & 0xFF, 0, int(aValues.size()), int(aValues.size() * 2)});
    for (uint16_t v : aValues) {
        pdu.push_back(uint8_t(v >> 8));
        pdu.push_back(uint8_t(v & 0xFF));
    }
    return pdu;
}

} // namespace

class tst_SimModule : public QObject
{
    Q_OBJECT

    uint64_t fNow = 1'000'000;
    std::unique_ptr<TzSimBus> fBus;

    // Sends aPdu to aAddress; the answer's PDU (CRC checked and stripped), or empty for silence.
    TSimBytes Ask(const TSimBytes &aPdu, uint8_t aAddress = 16, const TzSimLineParams &aLine = {})
    {
        TSimBytes frame{aAddress};
        frame.insert(frame.end(), aPdu.begin(), aPdu.end());
        const auto answer = fBus->HandleFrame(WithCrc(frame), aLine);
        if (!answer)
            return {};
        if (!CheckModbusCRC(answer->data(), int(answer->size())) || (*answer)[0] != aAddress)
            return Pdu({0xEE}); // never a valid answer: makes the comparison fail visibly
        return TSimBytes(answer->begin() + 1, answer->end() - 2);
    }
    uint16_t Reg(uint16_t aReg, uint8_t aFn = 3, uint8_t aAddress = 16)
    {
        const TSimBytes a = Ask(Read(aFn, aReg, 1), aAddress);
        return a.size() == 4 ? uint16_t((a[2] << 8) | a[3]) : 0xDEAD;
    }
    bool Bit(uint16_t aCoil, uint8_t aFn = 1)
    {
        const TSimBytes a = Ask(Read(aFn, aCoil, 1));
        return a.size() == 3 && (a[2] & 1);
    }
    void Expect(const TSimBytes &aPdu, const TSimBytes &aEchoOrAnswer) { QCOMPARE(Ask(aPdu), aEchoOrAnswer); }

private slots:
    void init()
    {
        fNow = 1'000'000;
        fBus = std::make_unique<TzSimBus>([this] { return fNow; });
        QVERIFY(fBus->AddModule(16));
        fBus->WithModule(16, [](TzSimModule &m, uint64_t) { m.SetSupply(24000, 40); });
    }

    void readsIdentityAndSettings_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("reg");
        QTest::addColumn<TSimBytes>("answer");
        QTest::newRow("device type 73") << 4 << 36864 << Pdu({4, 2, 0, 73});
        QTest::newRow("firmware 215") << 4 << 36869 << Pdu({4, 2, 0, 215});
        QTest::newRow("speed code 9600") << 3 << 28672 << Pdu({3, 2, 0, 3});
        QTest::newRow("format RTU 8N1") << 3 << 28673 << Pdu({3, 2, 0, 4});
        QTest::newRow("address") << 3 << 28676 << Pdu({3, 2, 0, 16});
        QTest::newRow("time-out off") << 3 << 28680 << Pdu({3, 2, 0, 0});
        QTest::newRow("power status") << 4 << 36881 << Pdu({4, 2, 0, 0});
    }
    void readsIdentityAndSettings()
    {
        QFETCH(int, function);
        QFETCH(int, reg);
        QFETCH(TSimBytes, answer);
        QCOMPARE(Ask(Read(uint8_t(function), uint16_t(reg), 1)), answer);
    }

    void readsIdentifierBlockAndPwmBlocks()
    {
        fBus->WithModule(16, [](TzSimModule &m, uint64_t) { m.SetIdentifier(0x0102, 0x0304, 0x0506); });
        QCOMPARE(Ask(Read(4, 36866, 3)), Pdu({4, 6, 1, 2, 3, 4, 5, 6}));
        // Both pulse-width blocks, 30 registers each: factory values unit 1, period 50, fill 0.
        for (uint16_t start : {60017, 60047}) {
            const TSimBytes block = Ask(Read(3, start, 30));
            QCOMPARE(block.size(), size_t(62));
            QCOMPARE(block[1], uint8_t(60));
            for (int k = 0; k < 10; ++k)
                QCOMPARE(TSimBytes(block.begin() + 2 + 6 * k, block.begin() + 8 + 6 * k), Pdu({0, 1, 0, 50, 0, 0}));
        }
    }

    void exceptions_data()
    {
        QTest::addColumn<TSimBytes>("request");
        QTest::addColumn<TSimBytes>("answer");
        // 01: functions the module does not have.
        QTest::newRow("function 7") << Pdu({7}) << Pdu({0x87, 1});
        QTest::newRow("function 15") << Pdu({15, 0x10, 0, 0, 1, 1, 1}) << Pdu({0x8F, 1});
        QTest::newRow("function 43") << Pdu({43, 14, 1, 0}) << Pdu({0xAB, 1});
        // 02: registers and coils that do not exist, or exist in the other table.
        QTest::newRow("input register by function 3") << Read(3, 36864, 1) << Pdu({0x83, 2});
        QTest::newRow("holding register by function 4") << Read(4, 60016, 1) << Pdu({0x84, 2});
        QTest::newRow("command register is write-only") << Read(3, 60000, 1) << Pdu({0x83, 2});
        QTest::newRow("unmapped 60012") << Read(3, 60012, 1) << Pdu({0x83, 2});
        QTest::newRow("unmapped 0") << Read(3, 0, 1) << Pdu({0x83, 2});
        QTest::newRow("block runs past 60076") << Read(3, 60070, 10) << Pdu({0x83, 2});
        QTest::newRow("coil between state and safe") << Read(1, 4097, 1) << Pdu({0x81, 2});
        QTest::newRow("coil run over a hole") << Read(1, 4096, 9) << Pdu({0x81, 2});
        QTest::newRow("coil past output 20") << Write(5, 4096 + 128 * 20, 0xFF00) << Pdu({0x85, 2});
        QTest::newRow("write to an input register") << Write(6, 36864, 1) << Pdu({0x86, 2});
        QTest::newRow("multiple write over a hole") << WriteMany(60012, {0, 0}) << Pdu({0x90, 2});
        QTest::newRow("read past 65535") << Read(3, 65535, 2) << Pdu({0x83, 2});
        // 03: counts and values out of range, malformed requests.
        QTest::newRow("count 0") << Read(3, 60016, 0) << Pdu({0x83, 3});
        QTest::newRow("count 126") << Read(3, 60017, 126) << Pdu({0x83, 3});
        QTest::newRow("coil count 2001") << Read(1, 4096, 2001) << Pdu({0x81, 3});
        QTest::newRow("short read") << Pdu({3, 0xEA, 0x70, 0}) << Pdu({0x83, 3});
        QTest::newRow("coil value 1234") << Write(5, 4096, 0x1234) << Pdu({0x85, 3});
        QTest::newRow("command other than 0x55AA") << Write(6, 60000, 1) << Pdu({0x86, 3});
        QTest::newRow("address 0") << Write(6, 28676, 0) << Pdu({0x86, 3});
        QTest::newRow("address 248") << Write(6, 28676, 248) << Pdu({0x86, 3});
        QTest::newRow("speed code 10") << Write(6, 28672, 10) << Pdu({0x86, 3});
        QTest::newRow("format code 0") << Write(6, 28673, 0) << Pdu({0x86, 3});
        QTest::newRow("format code 8") << Write(6, 28673, 8) << Pdu({0x86, 3});
        QTest::newRow("time-out 601") << Write(6, 28680, 601) << Pdu({0x86, 3});
        QTest::newRow("state 17-20 bit 4") << Write(6, 60015, 0x10) << Pdu({0x86, 3});
        QTest::newRow("safe 17-20 bit 4") << Write(6, 60013, 0x10) << Pdu({0x86, 3});
        QTest::newRow("unit 0") << Write(6, 4099, 0) << Pdu({0x86, 3});
        QTest::newRow("unit 241") << Write(6, 60017, 241) << Pdu({0x86, 3});
        QTest::newRow("period 49") << Write(6, 4100, 49) << Pdu({0x86, 3});
        QTest::newRow("period 36001") << Write(6, 60018, 36001) << Pdu({0x86, 3});
        QTest::newRow("fill 1001") << Write(6, 4101, 1001) << Pdu({0x86, 3});
        QTest::newRow("byte count mismatch") << Pdu({16, 0xEA, 0x70, 0, 1, 4, 0, 0}) << Pdu({0x90, 3});
    }
    void exceptions()
    {
        QFETCH(TSimBytes, request);
        QFETCH(TSimBytes, answer);
        QCOMPARE(Ask(request), answer);
        // A refused write changed nothing.
        QCOMPARE(Reg(28676), uint16_t(16));
        QCOMPARE(Reg(60016), uint16_t(0));
        QCOMPARE(Reg(60017), uint16_t(1));
        QCOMPARE(Reg(60018), uint16_t(50));
    }

    void outputViewsAgree()
    {
        // Output 1 by its coil: the state register, the fill factor in both places, the bits.
        Expect(Write(5, 4096, 0xFF00), Write(5, 4096, 0xFF00));
        QCOMPARE(Reg(60016), uint16_t(0x0001));
        QCOMPARE(Reg(4101), uint16_t(1000));
        QCOMPARE(Reg(60019), uint16_t(1000));
        QVERIFY(Bit(4096, 1));
        QVERIFY(Bit(4096, 2)); // discrete inputs mirror the coils
        // Output 20 sits in bit 3 of 60015.
        Expect(Write(5, 4096 + 128 * 19, 0xFF00), Write(5, 4096 + 128 * 19, 0xFF00));
        QCOMPARE(Reg(60015), uint16_t(0x0008));
        QCOMPARE(Reg(60076), uint16_t(1000));
        // The state register switches all sixteen at once, through the fill factors.
        Expect(Write(6, 60016, 0x8002), Write(6, 60016, 0x8002));
        QVERIFY(!Bit(4096));
        QVERIFY(Bit(4096 + 128));
        QCOMPARE(Reg(4096 + 128 * 15 + 5), uint16_t(1000));
        QCOMPARE(Reg(4101), uint16_t(0));
        // A fill factor of 0 or 1000 written through the block is a state as well.
        Expect(Write(6, 60022, 0), Write(6, 60022, 0));
        QCOMPARE(Reg(60016), uint16_t(0x8000));

        // Safe states: coil 4104 and 60014 bit 0; 60013 bit 1 and output 18's safe coil.
        Expect(Write(5, 4104, 0xFF00), Write(5, 4104, 0xFF00));
        QCOMPARE(Reg(60014), uint16_t(0x0001));
        Expect(Write(6, 60013, 0x0002), Write(6, 60013, 0x0002));
        QVERIFY(Bit(4096 + 128 * 17 + 8));
        QVERIFY(!Bit(4096 + 128 * 16 + 8));

        // Pulse-width parameters: per-output registers and the block are one store.
        Expect(Write(6, 4096 + 128 * 10 + 3, 7), Write(6, 4096 + 128 * 10 + 3, 7));
        QCOMPARE(Reg(60047), uint16_t(7));
        Expect(WriteMany(60074, {240, 36000, 333}), Pdu({16, 0xEA, 0xAA, 0, 3}));
        QCOMPARE(Reg(4096 + 128 * 19 + 3), uint16_t(240));
        QCOMPARE(Reg(4096 + 128 * 19 + 4), uint16_t(36000));
        QCOMPARE(Reg(4096 + 128 * 19 + 5), uint16_t(333));
    }

    void multipleWriteIsAllOrNothing()
    {
        QCOMPARE(Ask(WriteMany(60017, {5, 100, 1001})), Pdu({0x90, 3}));
        QCOMPARE(Reg(60017), uint16_t(1));
        QCOMPARE(Reg(60018), uint16_t(50));
    }

    void pulsingOutputTogglesWithItsCycle()
    {
        // Unit 10 ms, period 100: a 1 s cycle, closed for 250 ms of it.
        Expect(WriteMany(60017, {1, 100, 250}), Pdu({16, 0xEA, 0x71, 0, 3}));
        const uint64_t t0 = fNow;
        const struct
        {
            uint64_t At;
            bool On;
        } timeline[] = {{0, true}, {249, true}, {250, false}, {999, false}, {1000, true}, {1249, true}, {1250, false}};
        for (const auto &point : timeline) {
            fNow = t0 + point.At;
            QVERIFY2(Bit(4096) == point.On, qPrintable(QString("at %1 ms").arg(point.At)));
            QCOMPARE(Reg(60016) & 1, point.On ? 1 : 0);
        }
        // A new fill factor keeps the running cycle: at 1400 ms the output is still closed.
        fNow = t0 + 1100;
        Expect(Write(6, 60019, 500), Write(6, 60019, 500));
        fNow = t0 + 1400;
        QVERIFY(Bit(4096));
        fNow = t0 + 1500;
        QVERIFY(!Bit(4096));
        // Writing the state ends the pulsing.
        Expect(Write(5, 4096, 0xFF00), Write(5, 4096, 0xFF00));
        QCOMPARE(Reg(60019), uint16_t(1000));
        fNow = t0 + 1700;
        QVERIFY(Bit(4096));
    }

    void fillFactorBelowOneUnitNeverCloses()
    {
        // Fill 1 of period 50 closes for (1 x 50) div 1000 = 0 whole units.
        Expect(WriteMany(60017, {1, 50, 1}), Pdu({16, 0xEA, 0x71, 0, 3}));
        for (uint64_t t = 0; t < 1000; t += 5) {
            fNow += 5;
            QVERIFY(!Bit(4096));
        }
    }

    void restartAppliesSafeStatesAndNetworkSettings()
    {
        Expect(Write(5, 4096, 0xFF00), Write(5, 4096, 0xFF00));                     // output 1 on, safe open
        Expect(Write(5, 4096 + 128 + 8, 0xFF00), Write(5, 4096 + 128 + 8, 0xFF00)); // output 2 safe closed
        Expect(Write(6, 60013, 0x0001), Write(6, 60013, 0x0001));                   // output 17 safe closed
        Expect(Write(6, 28676, 20), Write(6, 28676, 20));
        Expect(Write(6, 28672, 5), Write(6, 28672, 5));
        Expect(Write(6, 28673, 6), Write(6, 28673, 6));
        // Stored but not in effect yet: the module still answers at 16 and reads back the new value.
        QCOMPARE(Reg(28676), uint16_t(20));

        // 0x55AA: the answer echoes the command from the old address, then the module restarts.
        QCOMPARE(Ask(Write(6, 60000, 0x55AA)), Write(6, 60000, 0x55AA));
        QVERIFY(Ask(Read(4, 36864, 1), 16).empty());
        QCOMPARE(Ask(Read(4, 36864, 1), 20), Pdu({4, 2, 0, 73}));
        QCOMPARE(Reg(60016, 3, 20), uint16_t(0x0002));
        QCOMPARE(Reg(60015, 3, 20), uint16_t(0x0001));
        QCOMPARE(Reg(60022, 3, 20), uint16_t(1000)); // output 2's fill factor follows its state
        // Now at 19200 8E1: a 9600 line or one without parity goes unheard.
        QVERIFY(Ask(Read(4, 36864, 1), 20, {9600, '?', 0}).empty());
        QVERIFY(Ask(Read(4, 36864, 1), 20, {19200, 'N', 1}).empty());
        QCOMPARE(Ask(Read(4, 36864, 1), 20, {19200, 'E', 1}), Pdu({4, 2, 0, 73}));
        int restarts = 0;
        fBus->WithModule(20, [&](TzSimModule &m, uint64_t) { restarts = m.RestartCount(); });
        QCOMPARE(restarts, 1);
    }

    void restartByMultipleWrite()
    {
        Expect(Write(5, 4096, 0xFF00), Write(5, 4096, 0xFF00));
        QCOMPARE(Ask(WriteMany(60000, {0x55AA})), Pdu({16, 0xEA, 0x60, 0, 1}));
        QCOMPARE(Reg(60016), uint16_t(0));
    }

    void networkTimeoutPutsOutputsIntoSafeStates()
    {
        Expect(Write(6, 28680, 2), Write(6, 28680, 2));
        Expect(Write(6, 60000, 0x55AA), Write(6, 60000, 0x55AA));
        Expect(Write(6, 60016, 0x0003), Write(6, 60016, 0x0003));
        Expect(Write(6, 60014, 0x0002), Write(6, 60014, 0x0002)); // output 2 closes when safe
        fNow += 1999;
        QCOMPARE(Reg(60016), uint16_t(0x0003)); // a request in time restarts the count
        fNow += 1999;
        QCOMPARE(Reg(60016), uint16_t(0x0003));
        fNow += 2000;
        QCOMPARE(Reg(60016), uint16_t(0x0002));
        int timeouts = 0;
        fBus->WithModule(16, [&](TzSimModule &m, uint64_t) { timeouts = m.NetworkTimeoutCount(); });
        QCOMPARE(timeouts, 1);
    }

    void supplyVoltageNearNominalAndPowerStatus()
    {
        std::set<uint16_t> seen;
        for (int i = 0; i < 50; ++i) {
            const uint16_t mv = Reg(24582, 4);
            QVERIFY2(mv >= 23960 && mv <= 24040, qPrintable(QString::number(mv)));
            seen.insert(mv);
        }
        QVERIFY(seen.size() > 1);
        fBus->WithModule(16, [](TzSimModule &m, uint64_t) {
            m.SetSupply(12345, 0);
            m.SetPowerStatus(0xC000);
            m.SetFirmwareVersion(100);
        });
        QCOMPARE(Reg(24582, 4), uint16_t(12345));
        QCOMPARE(Reg(36881, 4), uint16_t(0xC000));
        QCOMPARE(Reg(36869, 4), uint16_t(100));
    }

    void busFramingAndSeveralDevices()
    {
        QVERIFY(fBus->AddModule(17));
        QVERIFY(fBus->AddForeignDevice(20, 12));
        QVERIFY(!fBus->AddModule(17));
        QVERIFY(!fBus->AddModule(0));
        QVERIFY(!fBus->AddForeignDevice(248, 1));

        // A bad CRC or a frame for nobody gets no answer at all.
        TSimBytes frame = WithCrc({16, 4, 0x90, 0, 0, 1});
        frame.back() ^= 1;
        QVERIFY(!fBus->HandleFrame(frame));
        QVERIFY(!fBus->HandleFrame({16, 4}));
        QVERIFY(Ask(Read(4, 36864, 1), 30).empty());

        // The bus search's probe: 36864..36865 from every device.
        QCOMPARE(Ask(Read(4, 36864, 2), 17), Pdu({4, 4, 0, 73, 0, 100}));
        QCOMPARE(Ask(Read(4, 36864, 2), 20), Pdu({4, 4, 0, 12, 0, 1}));
        QCOMPARE(Ask(Read(3, 60016, 1), 20), Pdu({0x83, 2}));

        // A broadcast write reaches every module and nobody answers.
        QVERIFY(Ask(Write(5, 4096, 0xFF00), 0).empty());
        QCOMPARE(Reg(60016, 3, 16), uint16_t(1));
        QCOMPARE(Reg(60016, 3, 17), uint16_t(1));
    }
};

QTEST_GUILESS_MAIN(tst_SimModule)
#include "tst_SimModule.moc"
