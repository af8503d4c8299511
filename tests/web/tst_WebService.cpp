// The web service's answer and addresses, without widgets or network.

#include "web/uWebService.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<TzRemoteOutput>)

class TestWebService : public QObject
{
    Q_OBJECT

private slots:
    void parsesTheOutputStates_data();
    void parsesTheOutputStates();
    void addressesCarryValuesIntact_data();
    void addressesCarryValuesIntact();
    void baseAddressEndsWithASlash();
};

void TestWebService::parsesTheOutputStates_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QList<TzRemoteOutput>>("outputs");
    using L = QList<TzRemoteOutput>;
    QTest::newRow("two lines") << "1 1<br>2 0" << false << L{{1, true}, {2, false}};
    QTest::newRow("upper-case separator") << "1 1<BR>2 0<Br>3 1" << false << L{{1, true}, {2, false}, {3, true}};
    QTest::newRow("any non-zero state closes") << "4 7<br>5 -1<br>6 0" << false << L{{4, true}, {5, true}, {6, false}};
    QTest::newRow("output 21 skipped, the rest applied")
        << "21 1<br>2 1<br>0 1<br>20 1" << false << L{{2, true}, {20, true}};
    QTest::newRow("one number changes nothing") << "5" << false << L{};
    QTest::newRow("two spaces end the answer") << "1 1<br>2  1<br>3 1" << false << L{{1, true}};
    QTest::newRow("a word that is no number ends it") << "1 1<br>x 1<br>3 1" << false << L{{1, true}};
    QTest::newRow("hexadecimal is no number") << "$A 1<br>3 1" << false << L{};
    QTest::newRow("further words ignored") << "8 1 extra words<br>9 0 x" << false << L{{8, true}, {9, false}};
    QTest::newRow("an empty line ends it") << "1 1<br><br>2 1" << false << L{{1, true}};
    QTest::newRow("trailing separator and newline") << "1 1<br>2 1<br>\r\n" << false << L{{1, true}, {2, true}};
    QTest::newRow("line breaks separate too") << "1 1\r\n2 1\n3 1" << false << L{{1, true}, {2, true}, {3, true}};
    QTest::newRow("a line break after the separator is part of it")
        << "1 1<br>\r\n2 0<BR>\n3 1<br>\r4 1" << false << L{{1, true}, {2, false}, {3, true}, {4, true}};
    QTest::newRow("an empty line after it still ends it") << "1 1<br>\n\n2 1" << false << L{{1, true}};
    QTest::newRow("blank answer") << " \r\n " << false << L{};
    QTest::newRow("tab is not a space") << "1\t1" << false << L{};
    QTest::newRow("a cut answer loses its last line") << "1 1<br>2 1<br>3 0" << true << L{{1, true}, {2, true}};
    QTest::newRow("huge number is no number") << "1 99999999999<br>2 1" << false << L{};
}

void TestWebService::parsesTheOutputStates()
{
    QFETCH(QString, answer);
    QFETCH(bool, cut);
    QFETCH(QList<TzRemoteOutput>, outputs);
    const QList<TzRemoteOutput> parsed = ParseRemoteOutputs(answer, cut);
    QCOMPARE(parsed.size(), outputs.size());
    QVERIFY(parsed == outputs);
}

void TestWebService::addressesCarryValuesIntact_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("plain") << "aB3xYz" << "aB3xYz";
    QTest::newRow("query characters") << "a&b=c#d+e f" << "a%26b%3Dc%23d%2Be%20f";
    QTest::newRow("percent and slash") << "50%/x?" << "50%25%2Fx%3F";
    QTest::newRow("cyrillic as UTF-8") << "ключ" << "%D0%BA%D0%BB%D1%8E%D1%87";
}

void TestWebService::addressesCarryValuesIntact()
{
    QFETCH(QString, key);
    QFETCH(QString, encoded);
    const QString address = ServiceAddress(QStringLiteral("https://h/q/"), QStringLiteral("discret_output_set.php"),
                                           {{QStringLiteral("device_id"), QStringLiteral("01-02-0A-0B-0C-0D")},
                                            {QStringLiteral("key"), key},
                                            {QStringLiteral("dout_index"), QStringLiteral("7")},
                                            {QStringLiteral("status"), QStringLiteral("1")}});
    QCOMPARE(address, QStringLiteral("https://h/q/discret_output_set.php?device_id=01-02-0A-0B-0C-0D&key=%1"
                                     "&dout_index=7&status=1")
                          .arg(encoded));
}

void TestWebService::baseAddressEndsWithASlash()
{
    QCOMPARE(NormalizedServiceBase(QString()), QString::fromLatin1(DefaultServiceBase));
    QCOMPARE(NormalizedServiceBase(QStringLiteral("  http://127.0.0.1:8080/svc ")),
             QStringLiteral("http://127.0.0.1:8080/svc/"));
    QCOMPARE(NormalizedServiceBase(QStringLiteral("http://127.0.0.1/")), QStringLiteral("http://127.0.0.1/"));
    QVERIFY(QString::fromLatin1(DefaultServiceBase).startsWith(QStringLiteral("https://")));
}

QTEST_GUILESS_MAIN(TestWebService)
#include "tst_WebService.moc"
