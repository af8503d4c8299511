// The panel's settings files as the operator meets them: Options.xml through the real panel
// (change fields, close, start again), its failure rules, the autostart entry, the styles, and the
// project file with its delayed save.

#include "common/uGlobVar.h"
#include "diagnostics/uTempLog.h"
#include "panel/uAutorun.h"
#include "panel/uOptionsFile.h"
#include "panel/uProjectFile.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSettingsPlace.h"
#include "panel/uStyles.h"
#include "port/uFreePort.h"
#include "tests/TestSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <sys/fsuid.h>
#include <unistd.h>

namespace {

void WriteText(const QString &aFileName, const QByteArray &aText)
{
    QFile file(aFileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(aText);
}

QByteArray ReadText(const QString &aFileName)
{
    QFile file(aFileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces a field's text by typing, as the operator does.
void Type(QLineEdit *aEdit, const QString &aText)
{
    aEdit->selectAll();
    QTest::keyClick(aEdit, Qt::Key_Delete);
    QTest::keyClicks(aEdit, aText);
}

bool IsPrivate(const QString &aFileName)
{
    const QFileDevice::Permissions permissions = QFile::permissions(aFileName);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                                            | QFileDevice::WriteOther;
    return permissions.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner) && !(permissions & others);
}

QString ProjectFile()
{
    return ProjectFolder() + QStringLiteral("DefaultProject.xml");
}

QByteArray Project(const QByteArray &aRelays)
{
    return "<?xml version=\"1.0\"?><project><relay_table>" + aRelays + "</relay_table></project>";
}

} // namespace

class TestPanelSettings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsFolderRule();
    void optionsRoundTripThroughThePanel();
    void freshFileHasItsElementsInOrderAndIsPrivate();
    void ethernetPageOnlyForActiveOne_data();
    void ethernetPageOnlyForActiveOne();
    void invalidEthernetFieldsKeepTheStoredElement();
    void foreignRootIsNeverWritten();
    void handWrittenTextSurvivesSaves();
    void malformedFileIsReadAsNothingAndNeverOverwritten();
    void saveIntoReadOnlyFolderFailsWithOneLogLine();
    void accessKeyIsMadeOnceAndAnEmptyOneStays();
    void autorunCheckBoxWritesAndRemovesTheEntry();
    void stylesAreAppliedAndRemembered();

    void projectFileCases_data();
    void projectFileCases();
    void textsXmlCannotCarryNeverSpoilTheFiles_data();
    void textsXmlCannotCarryNeverSpoilTheFiles();
    void descriptionsAreBackAfterARestart();
    void leftoversOfKilledSavesAreRemoved();
    void continuousEditingSavesEveryFiveSeconds();

private:
    void Start();
    void Restart();

    TfrmTempLog *fLog = nullptr;
    TfrQuadrel *fFrame = nullptr;
};

void TestPanelSettings::init()
{
    TestMode = false;
    fLog = new TfrmTempLog;
}

void TestPanelSettings::cleanup()
{
    delete fFrame;
    delete fLog;
    fFrame = nullptr;
    fLog = nullptr;
    ClearTestSettings();
    QFile::remove(AutostartEntryFileName());
}

void TestPanelSettings::Start()
{
    // A new program starts with the transport's built-in settings.
    EthernetHost = QString::fromLatin1(EthernetFactoryHost);
    EthernetPort = 40000;
    EthernetWaitTime = 200;
    fFrame = new TfrQuadrel;
    fFrame->resize(800, 750);
    fFrame->show();
    QVERIFY(QTest::qWaitForWindowExposed(fFrame));
}

void TestPanelSettings::Restart()
{
    delete fFrame;
    fFrame = nullptr;
    Start();
}

void TestPanelSettings::settingsFolderRule()
{
    QCOMPARE(SettingsFolderFor(QStringLiteral("/opt/panel"), true, QStringLiteral("/home/op/.config/")),
             QStringLiteral("/opt/panel/"));
    QCOMPARE(SettingsFolderFor(QStringLiteral("/usr/bin/"), false, QStringLiteral("/home/op/.config")),
             QStringLiteral("/home/op/.config/quadrel-panel/"));
    QCOMPARE(SettingsFolder(), TestSettingsFolder() + u'/');
    QCOMPARE(OptionsFileName(), TestSettingsFolder() + QStringLiteral("/Options.xml"));
}

void TestPanelSettings::optionsRoundTripThroughThePanel()
{
    Start();
    fFrame->cbComPort->setEditText(QStringLiteral("/dev/ttyQUADREL7"));
    Type(fFrame->txtLineAddr, QStringLiteral("33"));
    fFrame->cbLineBaudRate->setCurrentIndex(5);
    fFrame->cbLineFormat->setCurrentIndex(2);
    Type(fFrame->txtLineTimeout, QStringLiteral("70"));
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    Type(fFrame->txtEthernetAddr, QStringLiteral("127.0.0.5"));
    Type(fFrame->txtEthernetPort, QStringLiteral("40123"));
    Type(fFrame->txtEthernetTimeout, QStringLiteral("300"));
    Type(fFrame->txtLineAddrEth, QStringLiteral("44"));
    fFrame->cbLineFormatEth->setCurrentIndex(3);
    fFrame->AnswerEnd = TzAnswerEnd::Gap;

    QTest::mouseClick(fFrame->btnAutorun, Qt::LeftButton);
    QVERIFY(fFrame->panAutorun->isVisible());
    QVERIFY(fFrame->btnAutorun->isChecked());
    QTest::mouseClick(fFrame->chkAutoStart, Qt::LeftButton);
    QTest::mouseClick(fFrame->chkAutoStartDelay, Qt::LeftButton);
    QTest::mouseClick(fFrame->chkAutorunMini, Qt::LeftButton);
    Type(fFrame->txtAutostartDelay, QStringLiteral("25"));
    fFrame->cbStyles->setCurrentIndex(4);

    fFrame->chkProxyUse->setChecked(true);
    fFrame->chkProxyNeedPass->setChecked(true);
    Type(fFrame->txtProxyServer, QStringLiteral("proxy.local"));
    Type(fFrame->txtProxyPort, QStringLiteral("8080"));
    Type(fFrame->txtProxyUser, QStringLiteral("operator"));
    Type(fFrame->txtProxyPass, QStringLiteral("s3cret-pass"));
    Type(fFrame->txtAuthKey, QStringLiteral("Key42"));
    fFrame->HTTPBase = QStringLiteral("https://bridge.example/panel/");
    QTest::mouseClick(fFrame->btnHTTP_Apply, Qt::LeftButton);
    // The answer end has no control of its own yet: the next save takes it along.
    fFrame->SaveOptions();

    Restart();
    QCOMPARE(fFrame->cbComPort->currentText(), QStringLiteral("/dev/ttyQUADREL7"));
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("33"));
    QCOMPARE(fFrame->cbLineBaudRate->currentIndex(), 5);
    QCOMPARE(fFrame->BaudRate, 19200);
    QCOMPARE(fFrame->cbLineFormat->currentIndex(), 2);
    QCOMPARE(fFrame->txtLineTimeout->text(), QStringLiteral("70"));
    QVERIFY(fFrame->IsEthernetPage());
    QCOMPARE(fFrame->txtEthernetAddr->text(), QStringLiteral("127.0.0.5"));
    QCOMPARE(fFrame->txtEthernetPort->text(), QStringLiteral("40123"));
    QCOMPARE(fFrame->txtEthernetTimeout->text(), QStringLiteral("300"));
    QCOMPARE(EthernetHost, QStringLiteral("127.0.0.5"));
    QCOMPARE(EthernetPort, 40123);
    QCOMPARE(EthernetWaitTime, 300);
    QCOMPARE(fFrame->txtLineAddrEth->text(), QStringLiteral("44"));
    QCOMPARE(fFrame->cbLineFormatEth->currentIndex(), 3);
    QCOMPARE(fFrame->AnswerEnd, TzAnswerEnd::Gap);
    // ...and every engine made from now on ends answers by the line's silence.
    QCOMPARE(DefaultAnswerEnd, AnswerEnd::Gap);
    DefaultAnswerEnd = AnswerEnd::Length;
    QVERIFY(fFrame->chkAutoStart->isChecked() && fFrame->Autostart);
    QVERIFY(fFrame->chkAutoStartDelay->isChecked() && fFrame->Autostart_Delay_On);
    QVERIFY(fFrame->chkAutorunMini->isChecked() && fFrame->Autorun_mini);
    QCOMPARE(fFrame->txtAutostartDelay->text(), QStringLiteral("25"));
    QCOMPARE(fFrame->Autostart_Delay_Value, 25);
    QCOMPARE(fFrame->AutostartTimer->interval(), 25000);
    // Not started by autorun: not silent, no connection of its own.
    QVERIFY(!fFrame->SilenceMode);
    QVERIFY(!fFrame->AutostartTimer->isActive());
    QCOMPARE(fFrame->cbStyles->currentIndex(), 4);
    QCOMPARE(fFrame->AdvFormStyler1->Style(), 4);
    QVERIFY(fFrame->chkProxyUse->isChecked());
    QVERIFY(fFrame->chkProxyNeedPass->isChecked());
    QCOMPARE(fFrame->txtProxyServer->text(), QStringLiteral("proxy.local"));
    QCOMPARE(fFrame->txtProxyPort->text(), QStringLiteral("8080"));
    QCOMPARE(fFrame->txtProxyUser->text(), QStringLiteral("operator"));
    QCOMPARE(fFrame->txtProxyPass->text(), QStringLiteral("s3cret-pass"));
    QCOMPARE(fFrame->txtAuthKey->text(), QStringLiteral("Key42"));
    QCOMPARE(fFrame->HTTPBase, std::optional<QString>(QStringLiteral("https://bridge.example/panel/")));
    // The password never reaches the log.
    QVERIFY(!fLog->Lines().join(u'\n').contains(QStringLiteral("s3cret")));
}

void TestPanelSettings::freshFileHasItsElementsInOrderAndIsPrivate()
{
    Start();
    QVERIFY(!QFile::exists(OptionsFileName()));
    Type(fFrame->txtLineAddr, QStringLiteral("17"));
    const QByteArray text = ReadText(OptionsFileName());
    QVERIFY(text.startsWith("<?xml version=\"1.0\""));
    const qsizetype comport = text.indexOf("<comport indx="), ethernet = text.indexOf("<ethernet"),
                    autorun = text.indexOf("<autorun mini="), style = text.indexOf("<style index=\"12\"");
    QVERIFY(comport > 0 && comport < ethernet && ethernet < autorun && autorun < style);
    QVERIFY(QRegularExpression(QStringLiteral("<comport indx=\"\\d+\" addr=\"17\" baudrate=\"3\" format=\"0\" "
                                              "timeout=\"20\" name=\"[^\"]*\" answerend=\"length\"/>"))
                .match(QString::fromUtf8(text))
                .hasMatch());
    QVERIFY(IsPrivate(OptionsFileName()));
    // Replacing a file others could read makes it private too.
    QVERIFY(QFile::setPermissions(OptionsFileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                          | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    Type(fFrame->txtLineAddr, QStringLiteral("18"));
    QVERIFY(IsPrivate(OptionsFileName()));
}

void TestPanelSettings::ethernetPageOnlyForActiveOne_data()
{
    QTest::addColumn<QByteArray>("active");
    QTest::addColumn<bool>("ethernetPage");
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("text") << QByteArray("yes") << false;
}

void TestPanelSettings::ethernetPageOnlyForActiveOne()
{
    QFETCH(QByteArray, active);
    QFETCH(bool, ethernetPage);
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><ethernet active=\"" + active
                                     + "\" host=\"not-an-address\" port=\"40001\"/></options>");
    Start();
    QCOMPARE(fFrame->IsEthernetPage(), ethernetPage);
    // A stored host that is no address becomes the converter's factory address.
    QCOMPARE(fFrame->txtEthernetAddr->text(), QString::fromLatin1(EthernetFactoryHost));
    QCOMPARE(fFrame->txtEthernetPort->text(), QStringLiteral("40001"));
}

void TestPanelSettings::invalidEthernetFieldsKeepTheStoredElement()
{
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><ethernet active=\"1\" host=\"127.0.0.9\" "
                                 "port=\"40002\" timeout=\"250\" addr=\"5\" format=\"1\"/></options>");
    Start();
    Type(fFrame->txtEthernetTimeout, QStringLiteral("20"));
    Type(fFrame->txtLineAddrEth, QStringLiteral("6"));
    TzStoredOptions stored;
    QCOMPARE(ReadOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.EthernetTimeout, std::optional<int>(250));
    QCOMPARE(stored.EthernetAddr, std::optional<int>(5));
    QCOMPARE(EthernetWaitTime, 250);
    // The other elements are saved as usual.
    QVERIFY(stored.HasAutorun);
}

void TestPanelSettings::handWrittenTextSurvivesSaves()
{
    // A fitter's notes written into the file by hand, beside and between the elements, with a
    // carriage return kept as a character reference.
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?>\n<options>Шкаф 3,&#13;\nне менять<comport addr=\"17\"/>"
                                 "<note>left<b/>right</note>\n</options>\n");
    Start();
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    const QByteArray first = ReadText(OptionsFileName());
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnCOM);
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    // The same settings saved again give the same file, and the notes read as they were written.
    QCOMPARE(ReadText(OptionsFileName()), first);
    QDomDocument document;
    QVERIFY(document.setContent(first));
    const QDomElement root = document.documentElement();
    QCOMPARE(root.firstChild().nodeValue(), QStringLiteral("Шкаф 3,\r\nне менять"));
    QCOMPARE(root.firstChildElement(QStringLiteral("note")).text(), QStringLiteral("leftright"));
    QCOMPARE(root.firstChildElement(QStringLiteral("comport")).attribute(QStringLiteral("addr")), QStringLiteral("17"));
}

void TestPanelSettings::foreignRootIsNeverWritten()
{
    const QByteArray foreign = "<?xml version=\"1.0\"?><settings><comport addr=\"99\"/></settings>\n";
    WriteText(OptionsFileName(), foreign);
    Start();
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("16"));
    Type(fFrame->txtLineAddr, QStringLiteral("21"));
    QTest::mouseClick(fFrame->btnHTTP_Apply, Qt::LeftButton);
    QCOMPARE(ReadText(OptionsFileName()), foreign);
    QVERIFY(!fLog->Lines().join(u'\n').contains(QStringLiteral("Ошибка")));
}

void TestPanelSettings::malformedFileIsReadAsNothingAndNeverOverwritten()
{
    const QByteArray broken = "<?xml version=\"1.0\"?><options><comport addr=\"77\"><http><proxy pass=\"hunter2\"";
    WriteText(OptionsFileName(), broken);
    Start();
    QCOMPARE(fFrame->txtLineAddr->text(), QStringLiteral("16"));
    QVERIFY(fFrame->txtAuthKey->text().isEmpty());
    Type(fFrame->txtLineAddr, QStringLiteral("123"));
    QTest::mouseClick(fFrame->btnHTTP_Apply, Qt::LeftButton);
    QCOMPARE(ReadText(OptionsFileName()), broken);
    const QStringList errors = fLog->Lines().filter(QStringLiteral("Ошибка: "));
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors[0].contains(QStringLiteral("Options.xml")));
    QVERIFY(!fLog->Lines().join(u'\n').contains(QStringLiteral("hunter2")));
}

void TestPanelSettings::saveIntoReadOnlyFolderFailsWithOneLogLine()
{
    Start();
    Type(fFrame->txtLineAddr, QStringLiteral("40"));
    const QByteArray before = ReadText(OptionsFileName());
    QVERIFY(before.contains("addr=\"40\""));
    const QString folder = TestSettingsFolder();
    QVERIFY(QFile::setPermissions(OptionsFileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                          | QFileDevice::ReadOther));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther));
    // The administrator writes anywhere; as another user it cannot.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot)
        ::setfsuid(65534);
    Type(fFrame->txtLineAddr, QStringLiteral("41"));
    Type(fFrame->txtLineAddr, QStringLiteral("42"));
    if (asRoot)
        ::setfsuid(0);
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(ReadText(OptionsFileName()), before);
    QCOMPARE(fLog->Lines().filter(QStringLiteral("Ошибка: настройки не сохранены")).size(), 1);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Options.xml")});
    // Once the folder is writable again the next change is saved.
    Type(fFrame->txtLineAddr, QStringLiteral("43"));
    QVERIFY(ReadText(OptionsFileName()).contains("addr=\"43\""));
}

void TestPanelSettings::accessKeyIsMadeOnceAndAnEmptyOneStays()
{
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><http><proxy port=\"\"/></http></options>");
    Start();
    const QString key = fFrame->txtAuthKey->text();
    QCOMPARE(key.size(), 6);
    QVERIFY(key.at(0).isLetter());
    QCOMPARE(fFrame->txtProxyPort->text(), QStringLiteral("0")); // an empty port leaves the field alone
    TzStoredHttpOptions stored;
    QCOMPARE(ReadHttpOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.Key, std::optional<QString>(key));
    Restart();
    QCOMPARE(fFrame->txtAuthKey->text(), key);

    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><http><auth key=\"\"/></http></options>");
    Restart();
    QVERIFY(fFrame->txtAuthKey->text().isEmpty());
    // Cancel on the proxy panel reloads what the file holds.
    Type(fFrame->txtProxyServer, QStringLiteral("typed"));
    QTest::mouseClick(fFrame->btnHTTP_Cancel, Qt::LeftButton);
    QCOMPARE(fFrame->txtProxyServer->text(), QStringLiteral("typed"));
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><http><proxy server=\"stored\"/><auth key=\"k\"/></http></options>");
    QTest::mouseClick(fFrame->btnHTTP_Cancel, Qt::LeftButton);
    QCOMPARE(fFrame->txtProxyServer->text(), QStringLiteral("stored"));
}

void TestPanelSettings::autorunCheckBoxWritesAndRemovesTheEntry()
{
    Start();
    QVERIFY(!fFrame->chkAutorun->isChecked());
    QTest::mouseClick(fFrame->btnAutorun, Qt::LeftButton);
    QTest::mouseClick(fFrame->chkAutorun, Qt::LeftButton);
    const QString program = QCoreApplication::applicationFilePath();
    const QString entry = QString::fromUtf8(ReadText(AutostartEntryFileName()));
    QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(entry.contains(QStringLiteral("\nExec=\"") + program + QStringLiteral("\" /autorun\n")));
    QVERIFY(RunKeyValueMatches());
    // The check box is refreshed from the entry at the next start (the options file exists).
    Type(fFrame->txtLineAddr, QStringLiteral("16"));
    Restart();
    QVERIFY(fFrame->chkAutorun->isChecked());

    // A copy of the program in another folder does not count as registered.
    WriteText(AutostartEntryFileName(), "[Desktop Entry]\nExec=\"/elsewhere/quadrel-panel\" /autorun\n");
    Restart();
    QVERIFY(!fFrame->chkAutorun->isChecked());

    QTest::mouseClick(fFrame->btnAutorun, Qt::LeftButton);
    QTest::mouseClick(fFrame->chkAutorun, Qt::LeftButton);
    QVERIFY(RunKeyValueMatches());
    QTest::mouseClick(fFrame->chkAutorun, Qt::LeftButton);
    QVERIFY(!QFile::exists(AutostartEntryFileName()));
    QVERIFY(!RunKeyValueMatches());
    // Quoting and escaping of a path with awkward characters.
    QCOMPARE(DesktopExecLine(QStringLiteral("/opt/my $dir/100%/q\"p")),
             QStringLiteral("Exec=\"/opt/my \\\\$dir/100%%/q\\\\\"p\" /autorun"));
}

void TestPanelSettings::stylesAreAppliedAndRemembered()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("stylesheet|style sheet"),
                                            QRegularExpression::CaseInsensitiveOption));
    Start();
    QCOMPARE(fFrame->cbStyles->count(), 23);
    QCOMPARE(fFrame->cbStyles->currentText(), QStringLiteral("Terminal"));
    QCOMPARE(fFrame->cbStyles->itemText(0), QStringLiteral("Office 2003 Blue"));
    QCOMPARE(fFrame->cbStyles->itemText(22), QStringLiteral("Custom"));
    QCOMPARE(qApp->palette().color(QPalette::Window), StylePalette(DefaultStyleIndex).color(QPalette::Window));
    QSet<QRgb> windows;
    for (int i = 0; i < 23; ++i) {
        windows.insert(StylePalette(i).color(QPalette::Window).rgb() ^ StylePalette(i).color(QPalette::Highlight).rgb());
        QVERIFY(StyleSheetOf(i) != StyleSheetOf((i + 1) % 23));
    }
    QCOMPARE(windows.size(), 23);

    // The list works from the keyboard; every choice is applied and saved.
    TestMode = true;
    QTRY_VERIFY(fFrame->cbStyles->isVisible());
    fFrame->cbStyles->setFocus();
    QTest::keyClick(fFrame->cbStyles, Qt::Key_Down);
    QCOMPARE(fFrame->AdvFormStyler1->Style(), 13);
    QCOMPARE(qApp->palette().color(QPalette::Window), StylePalette(13).color(QPalette::Window));
    QCOMPARE(qApp->styleSheet(), StyleSheetOf(13));
    fFrame->grab(); // every widget painted under the new sheet
    TzStoredOptions stored;
    QCOMPARE(ReadOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.StyleIndex, std::optional<int>(13));
    Restart();
    QCOMPARE(fFrame->cbStyles->currentText(), QStringLiteral("Office 2010 Blue"));
    QCOMPARE(qApp->styleSheet(), StyleSheetOf(13));

    // A number outside the list keeps the design style.
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><style index=\"23\"/></options>");
    Restart();
    QCOMPARE(fFrame->AdvFormStyler1->Style(), DefaultStyleIndex);
    TestMode = false;
}

void TestPanelSettings::projectFileCases_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("expected"); // outputs 1..6; "-" for unchanged

    const QByteArray five = "<relay hint=\"a\"/><relay hint=\"b\"/><relay hint=\"c\"/><relay hint=\"d\"/><relay hint=\"e\"/>";
    QTest::newRow("five relays") << Project(five) << true << QStringList{"a", "b", "c", "d", "e", "-"};
    QTest::newRow("other element at position 3")
        << Project("<relay hint=\"a\"/><relay hint=\"b\"/><relay hint=\"c\"/><note hint=\"x\"/><relay hint=\"e\"/>")
        << true << QStringList{"a", "b", "c", "-", "e", "-"};
    QTest::newRow("no hint and an empty one")
        << Project("<relay/><relay hint=\"\"/><!-- a comment --><relay hint=\"c\"/>") << true
        << QStringList{"-", "", "c", "-", "-", "-"};
    QTest::newRow("no relay_table") << QByteArray("<project/>") << true << QStringList{"-", "-", "-", "-", "-", "-"};
    QTest::newRow("foreign root") << QByteArray("<options><relay_table><relay hint=\"z\"/></relay_table></options>")
                                  << false << QStringList{"-", "-", "-", "-", "-", "-"};
    QTest::newRow("malformed") << QByteArray("<project><relay_table><relay hint=\"z\"") << false
                               << QStringList{"-", "-", "-", "-", "-", "-"};
}

void TestPanelSettings::projectFileCases()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loaded);
    QFETCH(QStringList, expected);
    Start();
    for (int n = 1; n <= 20; ++n)
        fFrame->SG_Relays->SetDescription(n, QStringLiteral("old %1").arg(n));
    fFrame->ProjSaveTimer->stop();
    WriteText(ProjectFile(), file);
    QCOMPARE(fFrame->LoadProject(ProjectFile()), loaded);
    for (int n = 1; n <= 6; ++n) {
        const QString want = expected[n - 1] == QStringLiteral("-") ? QStringLiteral("old %1").arg(n) : expected[n - 1];
        QCOMPARE(fFrame->SG_Relays->Description(n), want);
    }
    // The next save replaces any such file with a full project.
    QVERIFY(fFrame->SaveProject(ProjectFile()));
    QCOMPARE(ReadText(ProjectFile()).count("<relay hint="), 20);
}

void TestPanelSettings::textsXmlCannotCarryNeverSpoilTheFiles_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored");
    const QChar high(0xD83D), low(0xDE00); // together: one emoji
    const QString a = QStringLiteral("a"), b = QStringLiteral("b"), breaks = QStringLiteral("\t\r\n");
    QTest::newRow("unpaired high surrogate") << a + high + b << QStringLiteral("ab");
    QTest::newRow("unpaired low surrogate at the end") << QStringLiteral("Насос") + low << QStringLiteral("Насос");
    QTest::newRow("control characters") << QStringLiteral("a\x01" "b\x0B" "c") << QStringLiteral("abc");
    QTest::newRow("non-characters") << a + QChar(0xFFFE) + QChar(0xFFFF) << a;
    QTest::newRow("a pair is kept, tab and line breaks too") << a + high + low + breaks << a + high + low + breaks;
}

void TestPanelSettings::textsXmlCannotCarryNeverSpoilTheFiles()
{
    // A description or a password pasted with a character XML cannot carry is stored without
    // it; the file stays readable and nothing else in it is lost.
    QFETCH(QString, text);
    QFETCH(QString, stored);
    QVERIFY(QDir().mkpath(ProjectFolder()));
    TzProjectHints hints;
    hints[0] = text;
    hints[19] = QStringLiteral("last");
    QVERIFY(WriteProjectFile(ProjectFile(), hints, nullptr));
    TzStoredHints read;
    QVERIFY(ReadProjectFile(ProjectFile(), read));
    QCOMPARE(read[0], std::optional<QString>(stored));
    QCOMPARE(read[19], std::optional<QString>(QStringLiteral("last")));

    TzOptionsToSave options;
    options.Name = QStringLiteral("/dev/ttyUSB0");
    QCOMPARE(WriteOptions(OptionsFileName(), options, nullptr), TzOptionsWrite::Saved);
    TzHttpOptions http;
    http.Pass = text;
    http.Key = QStringLiteral("key");
    QCOMPARE(WriteHttpOptions(OptionsFileName(), http, nullptr), TzOptionsWrite::Saved);
    TzStoredOptions readOptions;
    TzStoredHttpOptions readHttp;
    QCOMPARE(ReadOptions(OptionsFileName(), readOptions), TzOptionsRead::Valid);
    QCOMPARE(readOptions.Name, std::optional<QString>(QStringLiteral("/dev/ttyUSB0")));
    QCOMPARE(ReadHttpOptions(OptionsFileName(), readHttp), TzOptionsRead::Valid);
    QCOMPARE(readHttp.Pass, std::optional<QString>(stored));
    QCOMPARE(readHttp.Key, std::optional<QString>(QStringLiteral("key")));
}

void TestPanelSettings::descriptionsAreBackAfterARestart()
{
    Start();
    fFrame->SG_Relays->EditDescription(5, 3);
    QLineEdit *editor = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((editor = fFrame->SG_Relays->viewport()->findChild<QLineEdit *>()) != nullptr, 5000);
    QTest::keyClicks(editor, QStringLiteral("<in> & \"out\" "));
    editor->insert(QStringLiteral("Насос"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(fFrame->SG_Relays->Description(13), QStringLiteral("<in> & \"out\" Насос"), 5000);
    QVERIFY(fFrame->ProjSaveTimer->isActive());
    // Closing saves at once, without waiting for the timer.
    Restart();
    QCOMPARE(fFrame->SG_Relays->Description(13), QStringLiteral("<in> & \"out\" Насос"));
    QCOMPARE(fFrame->SG_Relays->Description(12), QString());
    QVERIFY(!fFrame->ProjSaveTimer->isActive()); // loading is not an edit
    QCOMPARE(ReadText(ProjectFile()).count("<relay hint="), 20);
}

void TestPanelSettings::leftoversOfKilledSavesAreRemoved()
{
    // What saves killed midway left beside the settings files, and names that only look alike.
    const QString folder = TestSettingsFolder() + u'/';
    const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-3600);
    const QStringList stale{QStringLiteral("Options.xml.kLFCEX"), QStringLiteral("DefaultProject.xml.Qfuo9N")};
    const QStringList kept{QStringLiteral("Options.xml.bak"), QStringLiteral("Options.xml.ab-12c"),
                           QStringLiteral("Options.xml.AbCdEfG"), QStringLiteral("Other.xml.kLFCEX"),
                           QStringLiteral("Options.xml.Fresh1")};
    QVERIFY(QDir().mkpath(ProjectFolder()));
    for (const QString &name : stale + kept) {
        const QString path = (name.startsWith(QStringLiteral("DefaultProject")) ? ProjectFolder() : folder) + name;
        WriteText(path, "<?xml version=\"1.0\"?><options");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        // The one a panel running beside this one may be writing right now is young.
        if (name != QStringLiteral("Options.xml.Fresh1"))
            QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    Start();
    // A page change saves the options; a description saves the project on closing.
    fFrame->ConnectPager->setCurrentWidget(fFrame->PageConnEthernet);
    fFrame->SG_Relays->SetDescription(2, QStringLiteral("Вентилятор"));
    delete fFrame;
    fFrame = nullptr;
    QVERIFY(QFile::exists(folder + QStringLiteral("Options.xml")));
    QVERIFY(QFile::exists(ProjectFile()));
    QVERIFY(!QFile::exists(folder + stale[0]));
    QVERIFY(!QFile::exists(ProjectFolder() + stale[1]));
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(folder + name), qPrintable(name));
}

void TestPanelSettings::continuousEditingSavesEveryFiveSeconds()
{
    Start();
    QElapsedTimer clock;
    clock.start();
    QString lastSaved;
    QList<qint64> saves;
    int edit = 0;
    // Edit a description every 100 ms for 11 s and watch the file.
    while (clock.elapsed() < 11000) {
        fFrame->SG_Relays->SetDescription(1, QStringLiteral("edit %1").arg(++edit));
        QTest::qWait(100);
        TzStoredHints hints;
        if (ReadProjectFile(ProjectFile(), hints) && hints[0] && *hints[0] != lastSaved) {
            lastSaved = *hints[0];
            saves.append(clock.elapsed());
        }
    }
    QVERIFY2(saves.size() >= 2, qPrintable(QStringLiteral("%1 saves").arg(saves.size())));
    QVERIFY(saves.size() <= 3);
    QVERIFY(saves[0] >= 4900);
    for (qsizetype i = 1; i < saves.size(); ++i)
        QVERIFY2(saves[i] - saves[i - 1] >= 4800, qPrintable(QString::number(saves[i] - saves[i - 1])));
}

QTEST_MAIN(TestPanelSettings)
#include "tst_PanelSettings.moc"
