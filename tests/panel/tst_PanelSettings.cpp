// The panel's settings files as the operator meets them: Options.xml through the real panel
// (change fields, close, start again), its failure rules, the autostart entry, the styles, and the
// project file with its delayed save.

#include "common/uGlobVar.h"
#include "common/uSafeSave.h"
#include "diagnostics/uTempLog.h"
#include "panel/uAutorun.h"
#include "panel/uAutorunPanel.h"
#include "panel/uPanelOptions.h"
#include "panel/uProjectFile.h"
#include "panel/uProjectKeeper.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uStyles.h"
#include "panel/uWebBridgePanel.h"
#include "port/uFreePort.h"
#include "settings/uOptionsFile.h"
#include "settings/uSettingsPlace.h"
#include "tests/TestFiles.h"
#include "tests/TestSettings.h"
#include "tests/panel/PanelTestKit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

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

// A project as the panel writes it, with twenty descriptions "описание 1".."описание 20".
QByteArray FullProject()
{
    QByteArray relays;
    for (int n = 1; n <= 20; ++n)
        relays += "\n    <relay hint=\"" + QStringLiteral("описание %1").arg(n).toUtf8() + "\"/>";
    return "<?xml version=\"1.0\"?>\n<project>\n  <relay_table>" + relays + "\n  </relay_table>\n</project>\n";
}

QByteArray FullOptions()
{
    return "<?xml version=\"1.0\"?>\n<options>\n  <comport indx=\"0\" addr=\"55\" baudrate=\"2\" format=\"1\" "
           "timeout=\"40\" name=\"/dev/ttyS0\" answerend=\"length\"/>\n  <ethernet active=\"0\" host=\"127.0.0.9\" "
           "port=\"40002\" timeout=\"250\" addr=\"5\" format=\"1\"/>\n  <autorun mini=\"0\" autostart=\"0\" "
           "delay_on=\"0\" delay_value=\"10\"/>\n  <style index=\"12\"/>\n</options>\n";
}

// Elements nested aDepth deep, the root aRoot the outermost.
QByteArray Nested(const QByteArray &aRoot, int aDepth)
{
    return "<?xml version=\"1.0\"?>\n<" + aRoot + ">" + QByteArray("<n>").repeated(aDepth - 1)
           + QByteArray("</n>").repeated(aDepth - 1) + "</" + aRoot + ">\n";
}

// The files set aside beside aPath under the mark aMark.
QStringList SetAside(const QString &aPath, const QString &aMark)
{
    const QFileInfo info(aPath);
    return QDir(info.absolutePath()).entryList({info.fileName() + u'.' + aMark + QStringLiteral("-*")}, QDir::Files);
}

// Makes at aPath what a row asks for: a file with aContent, a folder, or a link to a pipe, a
// folder, a file with aContent, or nothing.
void MakeShape(const QString &aPath, const QString &aShape, const QByteArray &aContent)
{
    const QString folder = QFileInfo(aPath).absolutePath();
    if (aShape == QStringLiteral("file")) {
        WriteText(aPath, aContent);
    } else if (aShape == QStringLiteral("folder")) {
        QVERIFY(QDir().mkpath(aPath));
    } else if (aShape == QStringLiteral("link to a pipe")) {
        QVERIFY(::mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe")).constData(), 0600) == 0);
        QVERIFY(QFile::link(QStringLiteral("pipe"), aPath));
    } else if (aShape == QStringLiteral("link to a device")) {
        // A node of the null device of its own, never the system's: a save that replaced it would
        // replace only this one.
        QVERIFY(
            ::mknod(QFile::encodeName(folder + QStringLiteral("/device")).constData(), S_IFCHR | 0600, makedev(1, 3))
            == 0);
        QVERIFY(QFile::link(QStringLiteral("device"), aPath));
    } else if (aShape == QStringLiteral("link to a folder")) {
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/elsewhere")));
        QVERIFY(QFile::link(QStringLiteral("elsewhere"), aPath));
    } else if (aShape == QStringLiteral("link to a file")) {
        WriteText(folder + QStringLiteral("/target.xml"), aContent);
        QVERIFY(QFile::link(QStringLiteral("target.xml"), aPath));
    } else if (aShape == QStringLiteral("link to nothing")) {
        QVERIFY(QFile::link(QStringLiteral("nowhere.xml"), aPath));
    } else {
        QFAIL("unknown shape");
    }
}

// Words of the file library's English texts that must never reach the operator's log.
bool HasEnglishFileText(const QStringList &aLines)
{
    static const QRegularExpression english(
        QStringLiteral("Filename|directory|writable|exist|Permission|denied|No such"));
    return !aLines.filter(english).isEmpty();
}

} // namespace

class TestPanelSettings : public TestPanelCase
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
    void malformedFileIsSetAsideAndNeverOverwritten();
    void saveIntoReadOnlyFolderFailsWithOneLogLine();
    void unusableFilesAreSaidAtStartAndNeverLost_data();
    void unusableFilesAreSaidAtStartAndNeverLost();
    void foreignNestingNeverGrows_data();
    void foreignNestingNeverGrows();
    void accessKeyIsMadeOnceAndAnEmptyOneStays();
    void autorunCheckBoxWritesAndRemovesTheEntry();
    void stylesAreAppliedAndRemembered();

    void projectFileCases_data();
    void projectFileCases();
    void textsXmlCannotCarryNeverSpoilTheFiles_data();
    void textsXmlCannotCarryNeverSpoilTheFiles();
    void descriptionsAreBackAfterARestart();
    void onlyOwnLeftoversOfKilledSavesAreRemoved_data();
    void onlyOwnLeftoversOfKilledSavesAreRemoved();
    void continuousEditingSavesEveryFiveSeconds();

private:
    void Start();
    void Restart();
    // The features that keep the settings, and their controls, as the frame holds them.
    TzPanelOptions *Options() const { return Frame()->findChild<TzPanelOptions *>(); }
    TzAutorunPanel *Autorun() const { return Frame()->findChild<TzAutorunPanel *>(); }
    TzProjectKeeper *Keeper() const { return Frame()->findChild<TzProjectKeeper *>(); }
    TzFormStyler *Styler() const { return fPanel.Control<TzFormStyler>(QStringLiteral("AdvFormStyler1")); }
    QCheckBox *Box(const char *aName) const { return fPanel.Control<QCheckBox>(QString::fromLatin1(aName)); }
    QTimer *Timer(const char *aName) const { return fPanel.Control<QTimer>(QString::fromLatin1(aName)); }
};

void TestPanelSettings::init()
{
    TestMode = false;
    fPanel.CreateLog();
}

void TestPanelSettings::cleanup()
{
    fPanel.Close();
    QFile::remove(AutostartEntryFileName());
}

void TestPanelSettings::Start()
{
    // A new program starts with the transport's built-in settings.
    EthernetHost = QString::fromLatin1(EthernetFactoryHost);
    EthernetPort = 40000;
    EthernetWaitTime = 200;
    fPanel.Open();
}

void TestPanelSettings::Restart()
{
    fPanel.DeleteFrame();
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
    Control<QComboBox>("cbComPort")->setEditText(QStringLiteral("/dev/ttyQUADREL7"));
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("33"));
    Control<QComboBox>("cbLineBaudRate")->setCurrentIndex(5);
    Control<QComboBox>("cbLineFormat")->setCurrentIndex(2);
    Type(Control<QLineEdit>("txtLineTimeout"), QStringLiteral("70"));
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    Type(Control<QLineEdit>("txtEthernetAddr"), QStringLiteral("127.0.0.5"));
    Type(Control<QLineEdit>("txtEthernetPort"), QStringLiteral("40123"));
    Type(Control<QLineEdit>("txtEthernetTimeout"), QStringLiteral("300"));
    Type(Control<QLineEdit>("txtLineAddrEth"), QStringLiteral("44"));
    Control<QComboBox>("cbLineFormatEth")->setCurrentIndex(3);
    Options()->SetAnswerEnd(TzAnswerEnd::Gap);

    QTest::mouseClick(Control<QPushButton>("btnAutorun"), Qt::LeftButton);
    QVERIFY(fPanel.Control<QFrame>(QStringLiteral("panAutorun"))->isVisible());
    QVERIFY(Control<QPushButton>("btnAutorun")->isChecked());
    QTest::mouseClick(Box("chkAutoStart"), Qt::LeftButton);
    QTest::mouseClick(Box("chkAutoStartDelay"), Qt::LeftButton);
    QTest::mouseClick(Box("chkAutorunMini"), Qt::LeftButton);
    Type(fPanel.Control<QLineEdit>(QStringLiteral("txtAutostartDelay")), QStringLiteral("25"));
    Control<QComboBox>("cbStyles")->setCurrentIndex(4);

    fPanel.Control<QCheckBox>("chkProxyUse")->setChecked(true);
    fPanel.Control<QCheckBox>("chkProxyNeedPass")->setChecked(true);
    Type(fPanel.Control<QLineEdit>("txtProxyServer"), QStringLiteral("proxy.local"));
    Type(fPanel.Control<QLineEdit>("txtProxyPort"), QStringLiteral("8080"));
    Type(fPanel.Control<QLineEdit>("txtProxyUser"), QStringLiteral("operator"));
    Type(fPanel.Control<QLineEdit>("txtProxyPass"), QStringLiteral("s3cret-pass"));
    Type(fPanel.Control<QLineEdit>("txtAuthKey"), QStringLiteral("Key42"));
    // The base address has no control: it is kept as the options file names it.
    TzWebBridgeSettings bridge = Frame()->WebBridge().Settings();
    bridge.Base = QStringLiteral("https://bridge.example/panel/");
    Frame()->WebBridge().SetSettings(bridge);
    QTest::mouseClick(fPanel.Control<QPushButton>("btnHTTP_Apply"), Qt::LeftButton);
    // The answer end has no control of its own yet: the next save takes it along.
    Frame()->SaveOptions();

    Restart();
    QCOMPARE(Control<QComboBox>("cbComPort")->currentText(), QStringLiteral("/dev/ttyQUADREL7"));
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("33"));
    QCOMPARE(Control<QComboBox>("cbLineBaudRate")->currentIndex(), 5);
    QCOMPARE(Frame()->LineSpeed(), 19200);
    QCOMPARE(Control<QComboBox>("cbLineFormat")->currentIndex(), 2);
    QCOMPARE(Control<QLineEdit>("txtLineTimeout")->text(), QStringLiteral("70"));
    QVERIFY(Frame()->IsEthernetPage());
    QCOMPARE(Control<QLineEdit>("txtEthernetAddr")->text(), QStringLiteral("127.0.0.5"));
    QCOMPARE(Control<QLineEdit>("txtEthernetPort")->text(), QStringLiteral("40123"));
    QCOMPARE(Control<QLineEdit>("txtEthernetTimeout")->text(), QStringLiteral("300"));
    QCOMPARE(EthernetHost, QStringLiteral("127.0.0.5"));
    QCOMPARE(EthernetPort, 40123);
    QCOMPARE(EthernetWaitTime, 300);
    QCOMPARE(Control<QLineEdit>("txtLineAddrEth")->text(), QStringLiteral("44"));
    QCOMPARE(Control<QComboBox>("cbLineFormatEth")->currentIndex(), 3);
    QCOMPARE(Options()->AnswerEnd(), TzAnswerEnd::Gap);
    // ...and every engine made from now on ends answers by the line's silence.
    QCOMPARE(DefaultAnswerEnd, AnswerEnd::Gap);
    DefaultAnswerEnd = AnswerEnd::Length;
    QVERIFY(Box("chkAutoStart")->isChecked() && Autorun()->Settings().Autostart);
    QVERIFY(Box("chkAutoStartDelay")->isChecked() && Autorun()->Settings().DelayOn);
    QVERIFY(Box("chkAutorunMini")->isChecked() && Autorun()->Settings().Mini);
    QCOMPARE(fPanel.Control<QLineEdit>(QStringLiteral("txtAutostartDelay"))->text(), QStringLiteral("25"));
    QCOMPARE(Autorun()->Settings().DelayValue, 25);
    QCOMPARE(Timer("AutostartTimer")->interval(), 25000);
    // Not started by autorun: not silent, no connection of its own.
    QVERIFY(!Frame()->Silent());
    QVERIFY(!Timer("AutostartTimer")->isActive());
    QCOMPARE(Control<QComboBox>("cbStyles")->currentIndex(), 4);
    QCOMPARE(Styler()->Style(), 4);
    QVERIFY(fPanel.Control<QCheckBox>("chkProxyUse")->isChecked());
    QVERIFY(fPanel.Control<QCheckBox>("chkProxyNeedPass")->isChecked());
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyServer")->text(), QStringLiteral("proxy.local"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyPort")->text(), QStringLiteral("8080"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyUser")->text(), QStringLiteral("operator"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyPass")->text(), QStringLiteral("s3cret-pass"));
    QCOMPARE(fPanel.Control<QLineEdit>("txtAuthKey")->text(), QStringLiteral("Key42"));
    QCOMPARE(Frame()->WebBridge().Settings().Base,
             std::optional<QString>(QStringLiteral("https://bridge.example/panel/")));
    // The password never reaches the log.
    QVERIFY(!Log()->Lines().join(u'\n').contains(QStringLiteral("s3cret")));
}

void TestPanelSettings::freshFileHasItsElementsInOrderAndIsPrivate()
{
    Start();
    QVERIFY(!QFile::exists(OptionsFileName()));
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("17"));
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
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("18"));
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
    QCOMPARE(Frame()->IsEthernetPage(), ethernetPage);
    // A stored host that is no address becomes the converter's factory address.
    QCOMPARE(Control<QLineEdit>("txtEthernetAddr")->text(), QString::fromLatin1(EthernetFactoryHost));
    QCOMPARE(Control<QLineEdit>("txtEthernetPort")->text(), QStringLiteral("40001"));
}

void TestPanelSettings::invalidEthernetFieldsKeepTheStoredElement()
{
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><ethernet active=\"1\" host=\"127.0.0.9\" "
                                 "port=\"40002\" timeout=\"250\" addr=\"5\" format=\"1\"/></options>");
    Start();
    Type(Control<QLineEdit>("txtEthernetTimeout"), QStringLiteral("20"));
    Type(Control<QLineEdit>("txtLineAddrEth"), QStringLiteral("6"));
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
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    const QByteArray first = ReadText(OptionsFileName());
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnCOM"));
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
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
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("21"));
    QTest::mouseClick(fPanel.Control<QPushButton>("btnHTTP_Apply"), Qt::LeftButton);
    QCOMPARE(ReadText(OptionsFileName()), foreign);
    QVERIFY(!Log()->Lines().join(u'\n').contains(QStringLiteral("Ошибка")));
}

void TestPanelSettings::malformedFileIsSetAsideAndNeverOverwritten()
{
    const QByteArray broken = "<?xml version=\"1.0\"?><options><comport addr=\"77\"><http><proxy pass=\"hunter2\"";
    WriteText(OptionsFileName(), broken);
    Start();
    QCOMPARE(Control<QLineEdit>("txtLineAddr")->text(), QStringLiteral("16"));
    // Said once at start, naming the file and the place of the damage, never its contents.
    const QStringList said = Log()->Lines().filter(QuotedPath(OptionsFileName()));
    QCOMPARE(said.size(), 1);
    QVERIFY(said[0].contains(QStringLiteral("повреждённый XML")));
    const QStringList aside = SetAside(OptionsFileName(), QStringLiteral("damaged"));
    QCOMPARE(aside.size(), 1);
    QVERIFY(said[0].contains(aside[0]));
    // The operator's next change is saved into a new file; the damaged one stays as it was.
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("123"));
    QTest::mouseClick(fPanel.Control<QPushButton>("btnHTTP_Apply"), Qt::LeftButton);
    QCOMPARE(ReadText(TestSettingsFolder() + u'/' + aside[0]), broken);
    TzStoredOptions stored;
    QCOMPARE(ReadOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.Addr, std::optional<int>(123));
    QVERIFY(Log()->Lines().filter(QStringLiteral("Ошибка: ")).isEmpty());
    QVERIFY(!Log()->Lines().join(u'\n').contains(QStringLiteral("hunter2")));
}

void TestPanelSettings::saveIntoReadOnlyFolderFailsWithOneLogLine()
{
    Start();
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("40"));
    const QByteArray before = ReadText(OptionsFileName());
    QVERIFY(before.contains("addr=\"40\""));
    const QString folder = TestSettingsFolder();
    QVERIFY(QFile::setPermissions(OptionsFileName(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                              | QFileDevice::ExeOther));
    // The administrator writes anywhere; as another user it cannot.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot)
        ::setfsuid(65534);
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("41"));
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("42"));
    if (asRoot)
        ::setfsuid(0);
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    QCOMPARE(ReadText(OptionsFileName()), before);
    const QStringList errors = Log()->Lines().filter(QStringLiteral("Ошибка: настройки не сохранены"));
    QCOMPARE(errors.size(), 1);
    // In the operator's language, with the file named by its whole path.
    QVERIFY2(errors[0].contains(QuotedPath(OptionsFileName()))
                 && errors[0].contains(QStringLiteral("нет прав доступа")),
             qPrintable(errors[0]));
    QVERIFY(!HasEnglishFileText(Log()->Lines()));
    // No file of the failed saves is left (the journal beside them is not theirs).
    QStringList files = QDir(folder).entryList(QDir::Files);
    files.removeIf([](const QString &aName) { return aName.startsWith(QStringLiteral("Journal.sqlite")); });
    QCOMPARE(files, QStringList{QStringLiteral("Options.xml")});
    // Once the folder is writable again the next change is saved.
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("43"));
    QVERIFY(ReadText(OptionsFileName()).contains("addr=\"43\""));
}

void TestPanelSettings::unusableFilesAreSaidAtStartAndNeverLost_data()
{
    // The place (below the settings folder), what is there, the mark it is set aside under (none:
    // it stays where it is), and how many descriptions the start shows (-1: an options row).
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("aside");
    QTest::addColumn<bool>("said");
    QTest::addColumn<int>("descriptions");

    const QString options = QStringLiteral("Options.xml"), project = QStringLiteral("Projects/DefaultProject.xml");
    const QString file = QStringLiteral("file"), damaged = QStringLiteral("damaged");
    const QByteArray garbage("\x89PNG\r\n\x1a\n\x00\xff<<<&&&", 16);
    const QByteArray huge = "<!--" + QByteArray(2 * 1024 * 1024, 'x') + "-->\n";
    const QByteArray fullProject = FullProject();
    const QByteArray cut = fullProject.left(fullProject.size() * 2 / 3);

    QTest::newRow("options: garbage") << options << file << garbage << damaged << true << -1;
    QTest::newRow("options: cut at two thirds")
        << options << file << FullOptions().left(FullOptions().size() * 2 / 3) << damaged << true << -1;
    QTest::newRow("options: 2 MiB") << options << file << FullOptions() + huge << damaged << true << -1;
    QTest::newRow("options: another program's")
        << options << file << QByteArray("<settings><comport addr=\"99\"/></settings>") << QString() << true << -1;
    QTest::newRow("options: a folder") << options << QStringLiteral("folder") << QByteArray() << QString() << true
                                       << -1;
    QTest::newRow("options: link to a pipe")
        << options << QStringLiteral("link to a pipe") << QByteArray() << QString() << true << -1;
    QTest::newRow("options: link to nothing")
        << options << QStringLiteral("link to nothing") << QByteArray() << QString() << true << -1;
    QTest::newRow("options: link to a file, followed")
        << options << QStringLiteral("link to a file") << FullOptions() << QString() << false << -1;
    QTest::newRow("project: cut at two thirds") << project << file << cut << damaged << true << int(cut.count("\"/>"));
    QTest::newRow("project: garbage") << project << file << garbage << damaged << true << 0;
    QTest::newRow("project: 300 deep after one description")
        << project << file << Project("<relay hint=\"первое\"/>" + Nested("x", 300).mid(22)) << damaged << true << 1;
    QTest::newRow("project: 2 MiB") << project << file << fullProject + huge << damaged << true << 0;
    QTest::newRow("project: another root")
        << project << file << QByteArray("<options><relay_table/></options>") << QStringLiteral("foreign") << true << 0;
    QTest::newRow("project: a folder") << project << QStringLiteral("folder") << QByteArray() << QString() << true << 0;
    QTest::newRow("project: link to a pipe")
        << project << QStringLiteral("link to a pipe") << QByteArray() << QString() << true << 0;
    QTest::newRow("project: link to a device")
        << project << QStringLiteral("link to a device") << QByteArray() << QString() << true << 0;
    QTest::newRow("project: link to a folder")
        << project << QStringLiteral("link to a folder") << QByteArray() << QString() << true << 0;
    QTest::newRow("project: link to a file, followed")
        << project << QStringLiteral("link to a file") << fullProject << QString() << false << 20;
    QTest::newRow("Projects: a file") << QStringLiteral("Projects") << file << QByteArray("not a folder") << QString()
                                      << true << 0;
}

void TestPanelSettings::unusableFilesAreSaidAtStartAndNeverLost()
{
    QFETCH(QString, place);
    QFETCH(QString, shape);
    QFETCH(QByteArray, content);
    QFETCH(QString, aside);
    QFETCH(bool, said);
    QFETCH(int, descriptions);
    const QString path = TestSettingsFolder() + u'/' + place;
    if (place != QStringLiteral("Projects"))
        QVERIFY(QDir().mkpath(ProjectFolder()));
    if (shape == QStringLiteral("link to a device") && ::geteuid() != 0)
        QSKIP("a device node is made by the administrator only");
    MakeShape(path, shape, content);
    if (QTest::currentTestFailed())
        return;
    QString whatBefore;
    const TzPathKind kindBefore = PathKindOf(path, &whatBefore);

    Start();
    // Said once, at start, in the log and in a notice that waits for nobody.
    QCOMPARE(Log()->Lines().filter(QuotedPath(path)).size(), int(said));
    if (said) {
        QMessageBox *notice = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((notice = Frame()->findChild<QMessageBox *>(QStringLiteral("StartNotes"))) != nullptr
                                     && notice->isVisible(),
                                 10000);
        QVERIFY(notice->text().contains(QuotedPath(path)));
        QVERIFY(!notice->isModal());
    } else {
        QCoreApplication::processEvents();
        QVERIFY(!Frame()->findChild<QMessageBox *>(QStringLiteral("StartNotes")));
    }
    // What came whole before the damage is on the screen.
    for (int n = 1; n <= 20; ++n)
        QCOMPARE(Control<TzRelayGrid>("SG_Relays")->Description(n),
                 n <= descriptions
                     ? (shape == QStringLiteral("file") && descriptions == 1 ? QStringLiteral("первое")
                                                                             : QStringLiteral("описание %1").arg(n))
                     : QString());

    // The operator changes a setting and a description, and closes the panel.
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("61"));
    Control<TzRelayGrid>("SG_Relays")->SetDescription(20, QStringLiteral("после"));
    fPanel.DeleteFrame();
    QVERIFY(!HasEnglishFileText(Log()->Lines()));

    if (!aside.isEmpty()) {
        // Kept byte for byte beside, and a new file took its place.
        const QStringList set = SetAside(path, aside);
        QCOMPARE(set.size(), 1);
        QCOMPARE(ReadText(QFileInfo(path).absolutePath() + u'/' + set[0]), content);
        QCOMPARE(PathKindOf(path), TzPathKind::File);
    } else if (shape == QStringLiteral("file") || kindBefore == TzPathKind::NotAFile) {
        // Never replaced, never written.
        QString whatAfter;
        QCOMPARE(PathKindOf(path, &whatAfter), kindBefore);
        QCOMPARE(whatAfter, whatBefore);
        QCOMPARE(QFileInfo(path).isSymLink(), shape.startsWith(QStringLiteral("link")));
        if (shape == QStringLiteral("file"))
            QCOMPARE(ReadText(path), content);
        return;
    } else {
        // A link to a file stays a link; the file it leads to takes the save.
        QVERIFY(QFileInfo(path).isSymLink());
    }
    if (descriptions < 0) {
        TzStoredOptions stored;
        QCOMPARE(ReadOptions(path, stored), TzOptionsRead::Valid);
        QCOMPARE(stored.Addr, std::optional<int>(61));
    } else {
        TzStoredHints hints;
        QVERIFY(ReadProjectFile(path, hints));
        QCOMPARE(hints[19], std::optional<QString>(QStringLiteral("после")));
        if (descriptions > 1)
            QCOMPARE(hints[size_t(descriptions - 2)],
                     std::optional<QString>(QStringLiteral("описание %1").arg(descriptions - 1)));
    }
}

void TestPanelSettings::foreignNestingNeverGrows_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("kept");
    QTest::newRow("250 deep: read and kept") << 250 << true;
    QTest::newRow("5000 deep: beyond the bound, set aside") << 5000 << false;
}

void TestPanelSettings::foreignNestingNeverGrows()
{
    // Foreign elements nested in the options file: saves never indent them into growth.
    QFETCH(int, depth);
    QFETCH(bool, kept);
    const QByteArray original = Nested("options", depth);
    WriteText(OptionsFileName(), original);
    Start();
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    const QByteArray once = ReadText(OptionsFileName());
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnCOM"));
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    const QByteArray twice = ReadText(OptionsFileName());
    const QStringList aside = SetAside(OptionsFileName(), QStringLiteral("damaged"));
    qInfo("depth %d: %lld bytes before, %lld after one save, %lld after two, %lld set aside", depth,
          qlonglong(original.size()), qlonglong(once.size()), qlonglong(twice.size()),
          aside.isEmpty() ? 0LL : qlonglong(QFileInfo(TestSettingsFolder() + u'/' + aside[0]).size()));
    // The panel's own elements are a few hundred bytes; nothing else is added.
    QCOMPARE(twice, once);
    QCOMPARE(aside.size(), int(!kept));
    if (kept) {
        QVERIFY(once.size() < original.size() + 600);
        QVERIFY(once.contains(QByteArray("<n>").repeated(depth - 2) + "<n/>" + QByteArray("</n>").repeated(depth - 2)));
    } else {
        QVERIFY(once.size() < 1000);
        QCOMPARE(ReadText(TestSettingsFolder() + u'/' + aside[0]), original);
    }
}

void TestPanelSettings::accessKeyIsMadeOnceAndAnEmptyOneStays()
{
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><http><proxy port=\"\"/></http></options>");
    Start();
    const QString key = fPanel.Control<QLineEdit>("txtAuthKey")->text();
    QCOMPARE(key.size(), 6);
    QVERIFY(key.at(0).isLetter());
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyPort")->text(),
             QStringLiteral("0")); // an empty port leaves the field alone
    TzStoredHttpOptions stored;
    QCOMPARE(ReadHttpOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.Key, std::optional<QString>(key));
    Restart();
    QCOMPARE(fPanel.Control<QLineEdit>("txtAuthKey")->text(), key);

    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><http><auth key=\"\"/></http></options>");
    Restart();
    QVERIFY(fPanel.Control<QLineEdit>("txtAuthKey")->text().isEmpty());
    // Cancel on the proxy panel reloads what the file holds.
    Type(fPanel.Control<QLineEdit>("txtProxyServer"), QStringLiteral("typed"));
    QTest::mouseClick(fPanel.Control<QPushButton>("btnHTTP_Cancel"), Qt::LeftButton);
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyServer")->text(), QStringLiteral("typed"));
    WriteText(OptionsFileName(),
              "<?xml version=\"1.0\"?><options><http><proxy server=\"stored\"/><auth key=\"k\"/></http></options>");
    QTest::mouseClick(fPanel.Control<QPushButton>("btnHTTP_Cancel"), Qt::LeftButton);
    QCOMPARE(fPanel.Control<QLineEdit>("txtProxyServer")->text(), QStringLiteral("stored"));
}

void TestPanelSettings::autorunCheckBoxWritesAndRemovesTheEntry()
{
    Start();
    QVERIFY(!Box("chkAutorun")->isChecked());
    QTest::mouseClick(Control<QPushButton>("btnAutorun"), Qt::LeftButton);
    QTest::mouseClick(Box("chkAutorun"), Qt::LeftButton);
    const QString program = QCoreApplication::applicationFilePath();
    const QString entry = QString::fromUtf8(ReadText(AutostartEntryFileName()));
    QVERIFY(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(entry.contains(QStringLiteral("\nExec=\"") + program + QStringLiteral("\" /autorun\n")));
    QVERIFY(RunKeyValueMatches());
    // The check box is refreshed from the entry at the next start (the options file exists).
    Type(Control<QLineEdit>("txtLineAddr"), QStringLiteral("16"));
    Restart();
    QVERIFY(Box("chkAutorun")->isChecked());

    // A copy of the program in another folder does not count as registered.
    WriteText(AutostartEntryFileName(), "[Desktop Entry]\nExec=\"/elsewhere/quadrel-panel\" /autorun\n");
    Restart();
    QVERIFY(!Box("chkAutorun")->isChecked());

    QTest::mouseClick(Control<QPushButton>("btnAutorun"), Qt::LeftButton);
    QTest::mouseClick(Box("chkAutorun"), Qt::LeftButton);
    QVERIFY(RunKeyValueMatches());
    QTest::mouseClick(Box("chkAutorun"), Qt::LeftButton);
    QVERIFY(!QFile::exists(AutostartEntryFileName()));
    QVERIFY(!RunKeyValueMatches());
    // Quoting and escaping of a path with awkward characters.
    QCOMPARE(DesktopExecLine(QStringLiteral("/opt/my $dir/100%/q\"p")),
             QStringLiteral("Exec=\"/opt/my \\\\$dir/100%%/q\\\\\"p\" /autorun"));

    // An entry that cannot be removed (a folder stands in its place) is said in Russian, naming it.
    QTest::mouseClick(Box("chkAutorun"), Qt::LeftButton);
    QVERIFY(RunKeyValueMatches());
    QVERIFY(QFile::remove(AutostartEntryFileName()));
    QVERIFY(QDir().mkpath(AutostartEntryFileName() + QStringLiteral("/inside")));
    Box("chkAutorun")->setChecked(true);
    QTest::mouseClick(Box("chkAutorun"), Qt::LeftButton);
    const QStringList said = Log()->Lines().filter(QStringLiteral("запись автозапуска не удаляется"));
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.first().contains(QuotedPath(AutostartEntryFileName())), qPrintable(said.first()));
    QVERIFY2(said.first().contains(QStringLiteral("(на месте файла папка)")), qPrintable(said.first()));
    QVERIFY(QDir(AutostartEntryFileName()).removeRecursively());
}

void TestPanelSettings::stylesAreAppliedAndRemembered()
{
    QTest::failOnWarning(
        QRegularExpression(QStringLiteral("stylesheet|style sheet"), QRegularExpression::CaseInsensitiveOption));
    Start();
    QCOMPARE(Control<QComboBox>("cbStyles")->count(), 23);
    QCOMPARE(Control<QComboBox>("cbStyles")->currentText(), QStringLiteral("Terminal"));
    QCOMPARE(Control<QComboBox>("cbStyles")->itemText(0), QStringLiteral("Office 2003 Blue"));
    QCOMPARE(Control<QComboBox>("cbStyles")->itemText(22), QStringLiteral("Custom"));
    QCOMPARE(qApp->palette().color(QPalette::Window), StylePalette(DefaultStyleIndex).color(QPalette::Window));
    QSet<QRgb> windows;
    for (int i = 0; i < 23; ++i) {
        windows.insert(StylePalette(i).color(QPalette::Window).rgb()
                       ^ StylePalette(i).color(QPalette::Highlight).rgb());
        QVERIFY(StyleSheetOf(i) != StyleSheetOf((i + 1) % 23));
    }
    QCOMPARE(windows.size(), 23);

    // The list works from the keyboard; every choice is applied and saved.
    TestMode = true;
    QTRY_VERIFY(Control<QComboBox>("cbStyles")->isVisible());
    Control<QComboBox>("cbStyles")->setFocus();
    QTest::keyClick(Control<QComboBox>("cbStyles"), Qt::Key_Down);
    QCOMPARE(Styler()->Style(), 13);
    QCOMPARE(qApp->palette().color(QPalette::Window), StylePalette(13).color(QPalette::Window));
    QCOMPARE(qApp->styleSheet(), StyleSheetOf(13));
    Frame()->grab(); // every widget painted under the new sheet
    TzStoredOptions stored;
    QCOMPARE(ReadOptions(OptionsFileName(), stored), TzOptionsRead::Valid);
    QCOMPARE(stored.StyleIndex, std::optional<int>(13));
    Restart();
    QCOMPARE(Control<QComboBox>("cbStyles")->currentText(), QStringLiteral("Office 2010 Blue"));
    QCOMPARE(qApp->styleSheet(), StyleSheetOf(13));

    // A number outside the list keeps the design style.
    WriteText(OptionsFileName(), "<?xml version=\"1.0\"?><options><style index=\"23\"/></options>");
    Restart();
    QCOMPARE(Styler()->Style(), DefaultStyleIndex);
    TestMode = false;
}

void TestPanelSettings::projectFileCases_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QStringList>("expected"); // outputs 1..6; "-" for unchanged

    const QByteArray five =
        "<relay hint=\"a\"/><relay hint=\"b\"/><relay hint=\"c\"/><relay hint=\"d\"/><relay hint=\"e\"/>";
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
        Control<TzRelayGrid>("SG_Relays")->SetDescription(n, QStringLiteral("old %1").arg(n));
    Timer("ProjSaveTimer")->stop();
    WriteText(ProjectFile(), file);
    QCOMPARE(Keeper()->Load(ProjectFile()), loaded);
    for (int n = 1; n <= 6; ++n) {
        const QString want = expected[n - 1] == QStringLiteral("-") ? QStringLiteral("old %1").arg(n) : expected[n - 1];
        QCOMPARE(Control<TzRelayGrid>("SG_Relays")->Description(n), want);
    }
    // The next save replaces any such file with a full project.
    QVERIFY(Keeper()->Save(ProjectFile()));
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
    QTest::newRow("control characters") << QStringLiteral("a\x01"
                                                          "b\x0B"
                                                          "c")
                                        << QStringLiteral("abc");
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
    Control<TzRelayGrid>("SG_Relays")->EditDescription(5, 3);
    QLineEdit *editor = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((editor = Control<TzRelayGrid>("SG_Relays")->viewport()->findChild<QLineEdit *>())
                                 != nullptr,
                             5000);
    QTest::keyClicks(editor, QStringLiteral("<in> & \"out\" "));
    editor->insert(QStringLiteral("Насос"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(Control<TzRelayGrid>("SG_Relays")->Description(13),
                              QStringLiteral("<in> & \"out\" Насос"), 5000);
    QVERIFY(Timer("ProjSaveTimer")->isActive());
    // Closing saves at once, without waiting for the timer.
    Restart();
    QCOMPARE(Control<TzRelayGrid>("SG_Relays")->Description(13), QStringLiteral("<in> & \"out\" Насос"));
    QCOMPARE(Control<TzRelayGrid>("SG_Relays")->Description(12), QString());
    QVERIFY(!Timer("ProjSaveTimer")->isActive()); // loading is not an edit
    QCOMPARE(ReadText(ProjectFile()).count("<relay hint="), 20);
}

void TestPanelSettings::onlyOwnLeftoversOfKilledSavesAreRemoved_data()
{
    // A file beside the settings files, an hour old unless young, and whether saves remove it.
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("young");
    QTest::addColumn<bool>("removed");
    QTest::newRow("operator's backup") << QStringLiteral("Options.xml.backup") << false << false;
    QTest::newRow("operator's orig12") << QStringLiteral("Options.xml.orig12") << false << false;
    QTest::newRow("operator's old123 of the project")
        << QStringLiteral("Projects/DefaultProject.xml.old123") << false << false;
    QTest::newRow("six letters, as a library's temporary file")
        << QStringLiteral("Options.xml.kLFCEX") << false << false;
    QTest::newRow("a killed save of the options")
        << QStringLiteral(".Options.xml.quadrel-save-4242-kLFCEX.tmp") << false << true;
    QTest::newRow("a killed save of the project")
        << QStringLiteral("Projects/.DefaultProject.xml.quadrel-save-7-Qfuo9N.tmp") << false << true;
    QTest::newRow("a save of another panel, under way")
        << QStringLiteral(".Options.xml.quadrel-save-4242-Fresh1.tmp") << true << false;
    QTest::newRow("five random letters") << QStringLiteral(".Options.xml.quadrel-save-4242-kLFCE.tmp") << false
                                         << false;
    QTest::newRow("no process number") << QStringLiteral(".Options.xml.quadrel-save--kLFCEX.tmp") << false << false;
    QTest::newRow("a save of another file")
        << QStringLiteral(".Other.xml.quadrel-save-4242-kLFCEX.tmp") << false << false;
    QTest::newRow("another ending") << QStringLiteral(".Options.xml.quadrel-save-4242-kLFCEX.tmp~") << false << false;
}

void TestPanelSettings::onlyOwnLeftoversOfKilledSavesAreRemoved()
{
    QFETCH(QString, name);
    QFETCH(bool, young);
    QFETCH(bool, removed);
    const QString path = TestSettingsFolder() + u'/' + name;
    QVERIFY(QDir().mkpath(ProjectFolder()));
    WriteText(path, "<?xml version=\"1.0\"?><options");
    if (!young) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    Start();
    // A page change saves the options; closing saves the project.
    Control<QTabWidget>("ConnectPager")->setCurrentWidget(Control<QWidget>("PageConnEthernet"));
    Control<TzRelayGrid>("SG_Relays")->SetDescription(2, QStringLiteral("Вентилятор"));
    fPanel.DeleteFrame();
    QVERIFY(QFile::exists(OptionsFileName()));
    QVERIFY(QFile::exists(ProjectFile()));
    QCOMPARE(QFile::exists(path), !removed);
    // The saves themselves leave nothing behind.
    QCOMPARE(QDir(TestSettingsFolder()).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden).size(),
             int(name.endsWith(QStringLiteral(".tmp")) && !name.startsWith(QStringLiteral("Projects")) && !removed));
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
        Control<TzRelayGrid>("SG_Relays")->SetDescription(1, QStringLiteral("edit %1").arg(++edit));
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
