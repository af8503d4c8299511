// The register template reader: the built-in template and every way a template can be broken.

#include "common/uUtils.h"
#include "model/uGlobals.h"

#include <QtTest>

namespace {

const char *const GoodTag =
    R"(<tag id="1" reg="10" name="a" regtype="3" valtype="2" order="21" segsize="1" datasize="2" datatype="18" read="3" write="6"/>)";

QByteArray Template(const QString &aBody, const QString &aRoot = "template",
                    const QString &aRootAttributes = R"(name="M" ver="7")")
{
    return QStringLiteral("<?xml version=\"1.0\"?>\n<%1 %2>\n%3\n</%1>").arg(aRoot, aRootAttributes, aBody).toUtf8();
}

} // namespace

class TestTemplateLoader : public QObject
{
    Q_OBJECT

private slots:
    void builtInTemplate();
    void failures_data();
    void failures();
    void rootFailureKeepsEarlierTags();
    void optionalAttributes();
    void orderDigits_data();
    void orderDigits();
    void unreadableDocumentsRaise_data();
    void unreadableDocumentsRaise();
    void missingResourceRaises();
    void deviceLookups();
};

void TestTemplateLoader::builtInTemplate()
{
    TzDevice device;
    QVERIFY(device.LoadFromRes("XMLDATA"));
    QVERIFY(device.Ready);
    QCOMPARE(device.DevName, QStringLiteral("Quadrel"));
    QCOMPARE(device.DevVersion, 100);
    QCOMPARE(device.Freq, 1000);

    const QList<int> ids{28672, 28673, 28676, 28680, 36864, 36865, 36866,  36867,  36868, 36869,
                         24582, 36881, 60013, 60014, 60015, 60016, 600170, 600470, 60000};
    QCOMPARE(int(device.Tags.size()), int(ids.size()));
    for (int i = 0; i < ids.size(); ++i) {
        const TzTag *tag = device.Tags[size_t(i)].get();
        QCOMPARE(tag->ID, ids[i]);
        QCOMPARE(tag->Device, &device);
        QCOMPARE(tag->Order, QStringLiteral("21"));
        QCOMPARE(tag->OrderMas, QByteArray("\x02\x01", 2));
        QVERIFY(tag->IsNeed);
        QVERIFY(tag->Enabled);
        QCOMPARE(tag->Quality(), QualityWaiting);
        QCOMPARE(tag->BitPos, 0);
    }

    const TzTag *speed = device.GetTagByID(28672);
    QCOMPARE(speed->OPCName, QStringLiteral("Скорость обмена данными"));
    QCOMPARE(speed->ReadCmd, 3);
    QCOMPARE(speed->WriteCmd, 6);
    QCOMPARE(speed->RegType, 3);
    QCOMPARE(speed->DataType, 18);

    const TzTag *type = device.GetTagByID(36864);
    QCOMPARE(type->OPCName, QStringLiteral("Тип прибора"));
    QCOMPARE(type->ReadCmd, 4);
    QVERIFY(!type->CanWrite);
    QCOMPARE(type->WriteCmd, 0);

    const TzTag *block = device.GetTagByID(600170);
    QCOMPARE(block->Reg, 60017);
    QCOMPARE(block->SegSize, 30);
    QCOMPARE(block->ValType, 24);
    QCOMPARE(block->OPCName, QStringLiteral("Параметры ШИМ1"));
    QCOMPARE(device.GetTagByID(600470)->Reg, 60047);

    const TzTag *command = device.GetTagByID(60000);
    QVERIFY(!command->CanRead);
    QCOMPARE(command->ReadCmd, 0);
    QCOMPARE(command->WriteCmd, 6);
    QCOMPARE(device.GetTagByID(24582)->OPCName, QStringLiteral("Значение U1, целое"));
}

void TestTemplateLoader::failures_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<int>("tagsKept");

    const QString good = GoodTag;
    QTest::newRow("capital root") << Template(good, "Template") << true << 1;
    QTest::newRow("upper-case tag element") << Template(QString(good).replace("<tag", "<TAG")) << true << 1;
    QTest::newRow("plural root") << Template(good, "templates") << false << 0;
    QTest::newRow("no name") << Template(good, "template", R"(ver="7")") << false << 0;
    QTest::newRow("version not a number") << Template(good, "template", R"(name="M" ver="1x")") << false << 0;
    QTest::newRow("empty template") << Template("") << true << 0;
    QTest::newRow("comment between tags") << Template(good + "<!-- note -->" + good) << false << 1;
    QTest::newRow("other element") << Template(good + "<reg/>" + good) << false << 1;
    QTest::newRow("text between tags") << Template(good + "x" + good) << false << 1;
    for (const char *attribute :
         {"id", "reg", "name", "regtype", "valtype", "order", "segsize", "datasize", "datatype"}) {
        QString broken = good;
        broken.replace(QRegularExpression(QStringLiteral(" %1=\"[^\"]*\"").arg(attribute)), QString());
        QTest::newRow(qPrintable(QStringLiteral("missing %1").arg(attribute))) << Template(good + broken) << false << 1;
    }
    QTest::newRow("id not a number") << Template(QString(good).replace(R"(id="1")", R"(id="one")")) << false << 0;
    QTest::newRow("id beyond 32 bits") << Template(QString(good).replace(R"(id="1")", R"(id="4294967297")")) << false
                                       << 0;
    QTest::newRow("register beyond 16 bits")
        << Template(QString(good).replace(R"(reg="10")", R"(reg="65536")")) << false << 0;
    QTest::newRow("negative register") << Template(QString(good).replace(R"(reg="10")", R"(reg="-1")")) << false << 0;
    const QString block = QString(good).replace(R"(valtype="2")", R"(valtype="24")");
    QTest::newRow("block of 125 registers")
        << Template(QString(block).replace(R"(segsize="1")", R"(segsize="125")")) << true << 1;
    QTest::newRow("block of 126 registers")
        << Template(QString(block).replace(R"(segsize="1")", R"(segsize="126")")) << false << 0;
    QTest::newRow("input block of 126 registers")
        << Template(QString(block).replace(R"(segsize="1")", R"(segsize="126")").replace(R"(read="3")", R"(read="4")"))
        << false << 0;
    QTest::newRow("2000 coils") << Template(
        QString(good).replace(R"(segsize="1")", R"(segsize="2000")").replace(R"(read="3")", R"(read="1")"))
                                << true << 1;
    QTest::newRow("2001 coils") << Template(
        QString(good).replace(R"(segsize="1")", R"(segsize="2001")").replace(R"(read="3")", R"(read="1")"))
                                << false << 0;
    QTest::newRow("126 registers never read")
        << Template(QString(block).replace(R"(segsize="1")", R"(segsize="126")").replace(R"( read="3")", "")) << true
        << 1;
    QTest::newRow("order with 0") << Template(QString(good).replace(R"(order="21")", R"(order="20")")) << false << 0;
    QTest::newRow("optional not a number counts as absent")
        << Template(QString(good).replace(R"(write="6")", R"(write="six")")) << true << 1;
}

void TestTemplateLoader::failures()
{
    QFETCH(QByteArray, document);
    QFETCH(bool, loads);
    QFETCH(int, tagsKept);
    TzDevice device;
    device.Freq = 100;
    QCOMPARE(device.LoadFromData(document), loads);
    QCOMPARE(device.Ready, loads);
    QCOMPARE(device.Freq, 1000);
    QCOMPARE(int(device.Tags.size()), tagsKept);
}

void TestTemplateLoader::rootFailureKeepsEarlierTags()
{
    TzDevice device;
    QVERIFY(device.LoadFromRes("XMLDATA"));
    QVERIFY(!device.LoadFromData(Template(GoodTag, "templates")));
    QVERIFY(!device.Ready);
    QCOMPARE(int(device.Tags.size()), 19);
    QCOMPARE(device.DevName, QStringLiteral("Quadrel"));

    // A good root replaces the tags, even when a tag then fails.
    QVERIFY(!device.LoadFromData(Template(QString(GoodTag) + "<!-- x -->")));
    QCOMPARE(int(device.Tags.size()), 1);
    QCOMPARE(device.DevName, QStringLiteral("M"));
    QCOMPARE(device.DevVersion, 7);
}

void TestTemplateLoader::optionalAttributes()
{
    TzDevice device;
    QVERIFY(device.LoadFromData(Template(
        R"(<tag id="5" reg="5" name="r" regtype="2" valtype="8" order="21" segsize="1" datasize="2" datatype="18" read="4" offset="3" bitpos="7"/>)"
        R"(<tag id="6" reg="6" name="w" regtype="3" valtype="2" order="21" segsize="1" datasize="2" datatype="18" write="6"/>)")));
    const TzTag *readOnly = device.GetTagByID(5);
    QVERIFY(readOnly->CanRead);
    QCOMPARE(readOnly->ReadCmd, 4);
    QVERIFY(!readOnly->CanWrite);
    QCOMPARE(readOnly->WriteCmd, 0);
    QCOMPARE(readOnly->Offset, 3);
    QCOMPARE(readOnly->BitPos, 7);
    const TzTag *writeOnly = device.GetTagByID(6);
    QVERIFY(!writeOnly->CanRead);
    QCOMPARE(writeOnly->ReadCmd, 0);
    QCOMPARE(writeOnly->WriteCmd, 6);
    QCOMPARE(writeOnly->Offset, 0);
    QCOMPARE(writeOnly->BitPos, 0);
}

void TestTemplateLoader::orderDigits_data()
{
    QTest::addColumn<QString>("order");
    QTest::addColumn<QByteArray>("digits");
    QTest::newRow("21") << "21" << QByteArray("\x02\x01", 2);
    QTest::newRow("4321") << "4321" << QByteArray("\x04\x03\x02\x01", 4);
    QTest::newRow("2x") << "2x" << QByteArray("\x02\x00", 2);
}

void TestTemplateLoader::orderDigits()
{
    QFETCH(QString, order);
    QFETCH(QByteArray, digits);
    TzDevice device;
    QVERIFY(device.LoadFromData(
        Template(QString(GoodTag).replace(R"(order="21")", QStringLiteral("order=\"%1\"").arg(order)))));
    QCOMPARE(device.GetTagByID(1)->OrderMas, digits);
    QCOMPARE(device.GetTagByID(1)->Order, order);
}

void TestTemplateLoader::unreadableDocumentsRaise_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not closed") << QByteArray("<template name=\"M\" ver=\"1\">");
    QTest::newRow("not xml") << QByteArray("\x00\x01\x02 binary", 10);
}

void TestTemplateLoader::unreadableDocumentsRaise()
{
    QFETCH(QByteArray, document);
    TzDevice device;
    device.Ready = true;
    QVERIFY_THROWS_EXCEPTION(EzError, device.LoadFromData(document));
    QVERIFY(!device.Ready);
}

void TestTemplateLoader::missingResourceRaises()
{
    TzDevice device;
    try {
        device.LoadFromRes("NO_SUCH_TEMPLATE");
        QFAIL("a missing resource must raise");
    } catch (const EzError &error) {
        QVERIFY(error.Message().contains("NO_SUCH_TEMPLATE"));
    }
    QVERIFY(!device.Ready);
}

void TestTemplateLoader::deviceLookups()
{
    TzDevice device;
    QCOMPARE(device.GetTagByID(1), nullptr);
    QCOMPARE(device.DevAddr, -1);
    QCOMPARE(device.IsLockedTime, 3000);
    QCOMPARE(device.Status, dsNone);
    TzTag *first = device.AddTag();
    first->ID = 7;
    TzTag *second = device.AddTag();
    second->ID = 7;
    QCOMPARE(device.GetTagByID(7), first);
    QCOMPARE(device.GetTagByID(8), nullptr);
    QCOMPARE(second->Device, &device);
}

QTEST_GUILESS_MAIN(TestTemplateLoader)
#include "tst_TemplateLoader.moc"
