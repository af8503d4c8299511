// Connection rules, register texts, the output record, the frame registry and field flashing.

#include "model/uConnectionRules.h"
#include "panel/uBlinker.h"
#include "panel/uDiscretOutParams.h"
#include "panel/uFrameGlob.h"

#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QtTest>

class TestPanelRules : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }
    void minimumTimeout_data();
    void minimumTimeout();
    void lineFormats();
    void registerTexts();
    void voltageAndPower();
    void outputRecord();
    void frameRegistry();
    void blinkShowsThreeRedPhases();
    void blinkTakesOverFromAnotherField();
};

void TestPanelRules::minimumTimeout_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("minimum");
    QTest::newRow("1200") << 1200 << 150;
    QTest::newRow("2400") << 2400 << 80;
    QTest::newRow("4800") << 4800 << 50;
    QTest::newRow("9600") << 9600 << 30;
    QTest::newRow("14400") << 14400 << 20;
    QTest::newRow("19200") << 19200 << 15;
    QTest::newRow("28800") << 28800 << 10;
    QTest::newRow("115200") << 115200 << 10;
    QTest::newRow("other") << 300 << 150;
}

void TestPanelRules::minimumTimeout()
{
    QFETCH(int, baud);
    QFETCH(int, minimum);
    QCOMPARE(GetTimeout(baud), minimum);
    QVERIFY(CheckTimeout(minimum, baud));
    QVERIFY(!CheckTimeout(minimum - 1, baud));
}

void TestPanelRules::lineFormats()
{
    QCOMPARE(LineFormatOfItem(0).Parity, 0);
    QCOMPARE(LineFormatOfItem(1).Parity, 1);
    QCOMPARE(LineFormatOfItem(2).Parity, 2);
    QCOMPARE(LineFormatOfItem(3).StopBits, 2);
    QCOMPARE(LineFormatOfItem(2).StopBits, 0);
    QVERIFY(LineFormatOfItem(0).Valid);
    QVERIFY(!LineFormatOfItem(-1).Valid);
    QCOMPARE(LineFormatLabel(1), QStringLiteral("RTU 8O1"));
    QCOMPARE(LineFormatLabel(4), QString());
}

void TestPanelRules::registerTexts()
{
    QCOMPARE(BaudRateCodeText(0), QStringLiteral("1200"));
    QCOMPARE(BaudRateCodeText(9), QStringLiteral("115200"));
    QCOMPARE(BaudRateCodeText(10), QString());
    QCOMPARE(FormatCodeText(2), QStringLiteral("ASCII 7E1"));
    QCOMPARE(FormatCodeText(4), QStringLiteral("RTU 8N1"));
    QCOMPARE(FormatCodeText(0), QString());
    QCOMPARE(FormatCodeText(8), QString());
    QCOMPARE(FirmwareVersionText(215), QStringLiteral("2.15"));
    QCOMPARE(FirmwareVersionText(100), QStringLiteral("1.00"));
    QCOMPARE(FirmwareVersionText(99), QStringLiteral("99"));
    QCOMPARE(IdentifierText(0x0102, 0x0304, 0x0506), QStringLiteral("01-02-03-04-05-06"));
    QCOMPARE(IdentifierText(0xAABB, 0xCCDD, 0xEEFF), QStringLiteral("AA-BB-CC-DD-EE-FF"));
}

void TestPanelRules::voltageAndPower()
{
    QCOMPARE(VoltageText(24582), QStringLiteral("24.58 В"));
    QCOMPARE(VoltageText(0), QStringLiteral("0.00 В"));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(VoltageText(24586), QStringLiteral("24,59 В"));
    QVERIFY(IsPowerAlarm(0x8000));
    QVERIFY(IsPowerAlarm(0x4000));
    QVERIFY(!IsPowerAlarm(0x3FFF));
}

void TestPanelRules::outputRecord()
{
    TzDiscretOutParams output;
    QVERIFY(!output.ShimOn());
    output.ShimKoef = 1;
    QVERIFY(output.ShimOn());
    output.ShimKoef = 999;
    QVERIFY(output.ShimOn());
    output.ShimKoef = 1000;
    QVERIFY(!output.ShimOn());
    output.IsWait = true;
    output.SetIsOn(true);
    QVERIFY(output.IsOn());
    QVERIFY(!output.IsWait);
}

void TestPanelRules::frameRegistry()
{
    int built = 0;
    RegisterFrameClass("TfrTest", [&built](QWidget *) {
        ++built;
        return new QWidget;
    });
    RegisterDevFrame("Test", 7, "TfrTest");
    QWidget parent;
    QWidget *frame = CreateDevFrame("Test", 7, &parent, &parent);
    QVERIFY(frame);
    QCOMPARE(frame->parentWidget(), &parent);
    QVERIFY(QRegularExpression("^Frame\\d+$").match(frame->objectName()).hasMatch());
    QCOMPARE(built, 1);
    QCOMPARE(CreateDevFrame("Test", 8, &parent, &parent), nullptr);
    QCOMPARE(CreateDevFrame("test", 7, &parent, &parent), nullptr);
    QCOMPARE(built, 1);
}

void TestPanelRules::blinkShowsThreeRedPhases()
{
    QLineEdit edit;
    const QColor own = edit.palette().color(QPalette::Base);
    int redPhases = 0;
    bool wasRed = false;
    QMetaObject::Connection watch = connect(TBlinkTimerObj::Instance()->Timer, &QTimer::timeout, this, [&] {
        const bool red = edit.palette().color(QPalette::Base) == QColor(255, 0, 0);
        if (red && !wasRed)
            ++redPhases;
        wasRed = red;
    });
    BlinkEdit(&edit);
    BlinkEdit(&edit); // a second request for the same field changes nothing
    QTRY_VERIFY_WITH_TIMEOUT(!TBlinkTimerObj::Instance()->Timer->isActive(), 5000);
    disconnect(watch);
    QCOMPARE(redPhases, 3);
    QCOMPARE(edit.palette().color(QPalette::Base), own);
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), nullptr);
}

void TestPanelRules::blinkTakesOverFromAnotherField()
{
    QLineEdit first, second;
    const QColor own = first.palette().color(QPalette::Base);
    BlinkEdit(&first);
    QTRY_VERIFY_WITH_TIMEOUT(first.palette().color(QPalette::Base) == QColor(255, 0, 0), 5000);
    BlinkEdit(&second);
    QCOMPARE(first.palette().color(QPalette::Base), own);
    QCOMPARE(TBlinkTimerObj::Instance()->Flashing(), &second);
    QTRY_VERIFY_WITH_TIMEOUT(!TBlinkTimerObj::Instance()->Timer->isActive(), 5000);
    QCOMPARE(second.palette().color(QPalette::Base), own);
}

QTEST_MAIN(TestPanelRules)
#include "tst_PanelRules.moc"
