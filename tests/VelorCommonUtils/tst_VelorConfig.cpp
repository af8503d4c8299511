// The suite's configuration layer: path arithmetic in both separator forms, the INI file that
// degrades to read-only, and the standard paths worked out at start in a temporary program folder.

#include "VelorCommonUtils/PathUtils.h"
#include "VelorCommonUtils/VelorFilePath.h"
#include "VelorCommonUtils/VelorIniFiles.h"
#include "tests/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class TzFakeMachineKey : public IzVelorMachineKey
{
public:
    bool Exists = false;
    QString LocationType;
    QString BasePath;
    bool Read(QString &aLocationType, QString &aBasePath) const override
    {
        if (!Exists)
            return false;
        aLocationType = LocationType;
        aBasePath = BasePath;
        return true;
    }
};

} // namespace

class TestVelorConfig : public QObject
{
    Q_OBJECT

private slots:
    void combinePath_data();
    void combinePath();
    void expandEnvironment();
    void locationKinds();

    void iniReadsWritesAndKeepsComments();
    void readOnlyFileIsReadButNeverWritten();
    void failedWriteMakesTheObjectReadOnly();
    void copyFromAnotherIni();
    void machineKeyFile();

    void noKeyAndNoConfigurationFile();
    void configurationBesideTheProgramCreatesTheFolders();
    void userKindMovesTheOldConfigurationOnce();
    void staticRelativeBaseAndFolderKinds();
};

void TestVelorConfig::combinePath_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");

    // Windows form.
    QTest::newRow("empty path") << "C:\\A\\" << "" << "\\" << "C:\\A\\";
    QTest::newRow("up one") << "C:\\A\\B\\" << "..\\C\\" << "\\" << "C:\\A\\C\\";
    QTest::newRow("other drive") << "C:\\A\\" << "D:\\X" << "\\" << "D:\\X";
    QTest::newRow("UNC path absolute") << "C:\\A\\" << "\\\\srv\\share\\x" << "\\" << "\\\\srv\\share\\x";
    QTest::newRow("never above the drive") << "C:\\" << "..\\..\\X" << "\\" << "C:\\X";
    QTest::newRow("never above the drive, deep") << "C:\\A\\B" << "..\\..\\..\\..\\X\\" << "\\" << "C:\\X\\";
    QTest::newRow("dot and empty parts") << "C:\\A\\" << ".\\\\B\\.\\C" << "\\" << "C:\\A\\B\\C";
    QTest::newRow("file name") << "C:\\A\\" << "velor.ini" << "\\" << "C:\\A\\velor.ini";
    QTest::newRow("UNC base") << "\\\\srv\\share\\cfg\\" << "..\\data\\" << "\\" << "\\\\srv\\share\\data\\";
    QTest::newRow("never above the UNC share") << "\\\\srv\\share\\" << "..\\..\\..\\x" << "\\" << "\\\\srv\\share\\x";
    QTest::newRow("relative base") << "A\\B\\" << "..\\C" << "\\" << "A\\C";
    QTest::newRow("rooted without drive") << "\\A\\B\\" << "..\\..\\..\\X\\" << "\\" << "\\X\\";
    QTest::newRow("mixed separators stay one part") << "C:\\A\\" << "B/C\\" << "\\" << "C:\\A\\B/C\\";
    // POSIX form.
    QTest::newRow("posix up one") << "/opt/a/b/" << "../c/" << "/" << "/opt/a/c/";
    QTest::newRow("posix absolute path") << "/opt/a/" << "/etc/x" << "/" << "/etc/x";
    QTest::newRow("posix never above the root") << "/opt/" << "../../../x" << "/" << "/x";
    QTest::newRow("posix root only") << "/" << "../" << "/" << "/";
    QTest::newRow("posix dot") << "/opt/a/" << "./Data/" << "/" << "/opt/a/Data/";
    QTest::newRow("posix file") << "/opt/a/" << "temp" << "/" << "/opt/a/temp";
}

void TestVelorConfig::combinePath()
{
    QFETCH(QString, base);
    QFETCH(QString, path);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(CombinePath(base, path, separator.at(0)), expected);
}

void TestVelorConfig::expandEnvironment()
{
    qputenv("QUADREL_TEST_VAR", "/srv/x");
    qunsetenv("QUADREL_TEST_UNSET");
    QCOMPARE(ExpandEnvironment(QStringLiteral("$QUADREL_TEST_VAR/a")), QStringLiteral("/srv/x/a"));
    QCOMPARE(ExpandEnvironment(QStringLiteral("${QUADREL_TEST_VAR}b")), QStringLiteral("/srv/xb"));
    QCOMPARE(ExpandEnvironment(QStringLiteral("%QUADREL_TEST_VAR%\\c")), QStringLiteral("/srv/x\\c"));
    QCOMPARE(ExpandEnvironment(QStringLiteral("%QUADREL_TEST_UNSET%\\c $QUADREL_TEST_UNSET")),
             QStringLiteral("%QUADREL_TEST_UNSET%\\c $QUADREL_TEST_UNSET"));
    QCOMPARE(ExpandEnvironment(QStringLiteral("100% sure")), QStringLiteral("100% sure"));
}

void TestVelorConfig::locationKinds()
{
    QCOMPARE(LocationKindOf(QStringLiteral("static")), TzLocationKind::Static);
    QCOMPARE(LocationKindOf(QStringLiteral("pcname")), TzLocationKind::PcName);
    QCOMPARE(LocationKindOf(QStringLiteral("pcip")), TzLocationKind::PcIp);
    QCOMPARE(LocationKindOf(QStringLiteral("environment")), TzLocationKind::Environment);
    QCOMPARE(LocationKindOf(QStringLiteral("user")), TzLocationKind::User);
    QCOMPARE(LocationKindOf(QStringLiteral("User")), TzLocationKind::Default);
    QCOMPARE(LocationKindOf(QString()), TzLocationKind::Default);
}

void TestVelorConfig::iniReadsWritesAndKeepsComments()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("velor.ini"));
    WriteText(name, "; the suite\n[Path]\nDataLocation = \"D:\\Data\\\" \n\n[Other]\nx=1\n");
    CVelorConfig config(name, false);
    QVERIFY(config.ConfFileExist());
    QVERIFY(!config.readonly());
    QCOMPARE(config.DataLocation(), QStringLiteral("D:\\Data\\"));
    QCOMPARE(config.TMPLocation(), QStringLiteral(".\\TMP\\"));
    QCOMPARE(config.ConfLocationType(), QStringLiteral("default"));
    QCOMPARE(config.ReadString(QStringLiteral("path"), QStringLiteral("datalocation"), QString()),
             QStringLiteral("D:\\Data\\"));

    config.WriteString(QStringLiteral("Path"), QStringLiteral("LogLocation"), QStringLiteral(".\\Log\\"));
    config.WriteString(QStringLiteral("BufPth"), QStringLiteral("BufDir"), QStringLiteral("line1\nline2"));
    const QByteArray text = ReadText(name);
    QVERIFY(text.startsWith("; the suite\n[Path]\n"));
    QVERIFY(text.contains("LogLocation=.\\Log\\\n\n[Other]"));
    QVERIFY(text.contains("[BufPth]\nBufDir=line1 line2\n"));

    const CVelorConfig again(name, true);
    QCOMPARE(again.LogLocation(), QStringLiteral(".\\Log\\"));
    QCOMPARE(again.InternalBufDir(), QStringLiteral("line1 line2"));
    QCOMPARE(again.ReadSections(), (QStringList{"Path", "Other", "BufPth"}));
    QCOMPARE(again.ReadSection(QStringLiteral("Path")), (QStringList{"DataLocation", "LogLocation"}));
}

void TestVelorConfig::readOnlyFileIsReadButNeverWritten()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("velor.ini"));
    WriteText(name, "[Path]\nDocLocation=.\\Manuals\\\n");
    QVERIFY(QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    CVelorConfig config(name, false);
    QVERIFY(config.readonly());
    QCOMPARE(config.DocLocation(), QStringLiteral(".\\Manuals\\"));
    config.WriteString(QStringLiteral("Path"), QStringLiteral("DocLocation"), QStringLiteral("x"));
    config.UpdateFile();
    QCOMPARE(config.DocLocation(), QStringLiteral(".\\Manuals\\"));
    QCOMPARE(ReadText(name), QByteArray("[Path]\nDocLocation=.\\Manuals\\\n"));

    // Opened read-only on request: the same, for a writable file.
    QVERIFY(QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    CVelorConfig asked(name, true);
    QVERIFY(asked.readonly());
    QVERIFY(!asked.WriteFileFromIni(config));
    asked.WriteString(QStringLiteral("Path"), QStringLiteral("DocLocation"), QStringLiteral("x"));
    QCOMPARE(ReadText(name), QByteArray("[Path]\nDocLocation=.\\Manuals\\\n"));
}

void TestVelorConfig::failedWriteMakesTheObjectReadOnly()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("cfg"));
    QVERIFY(QDir().mkpath(folder));
    const QString name = folder + QStringLiteral("/velor.ini");
    WriteText(name, "[Path]\nLangLocation=.\\L\\\n");
    CVelorConfig config(name, false);
    QVERIFY(!config.readonly());
    // The folder goes away and a plain file takes its name: no save can succeed any more.
    QVERIFY(QDir(folder).removeRecursively());
    WriteText(folder, "not a folder");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("now read-only")));
    config.WriteString(QStringLiteral("Path"), QStringLiteral("LangLocation"), QStringLiteral(".\\New\\"));
    QVERIFY(config.readonly());
    // Reads keep answering what the file held; later writes do nothing and say nothing.
    QCOMPARE(config.LangLocation(), QStringLiteral(".\\L\\"));
    config.WriteString(QStringLiteral("Path"), QStringLiteral("LangLocation"), QStringLiteral(".\\Newer\\"));
    QCOMPARE(config.LangLocation(), QStringLiteral(".\\L\\"));
    QCOMPARE(ReadText(folder), QByteArray("not a folder"));
}

void TestVelorConfig::copyFromAnotherIni()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("old.ini"));
    WriteText(source, "[Path]\nDataLocation=.\\D\\\nDataLocationType=static\n[BufPth]\nBufDir=C:\\Buf\\\n");
    const CConfigFile old(source, true);
    const QString target = dir.filePath(QStringLiteral("new/velor.ini"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("new"))));
    CVelorConfig config(target, false);
    QVERIFY(!config.ConfFileExist());
    QVERIFY(config.WriteFileFromIni(old));
    QVERIFY(config.ConfFileExist());
    QCOMPARE(config.DataLocationType(), QStringLiteral("static"));
    QCOMPARE(CVelorConfig(target, true).InternalBufDir(), QStringLiteral("C:\\Buf\\"));
}

void TestVelorConfig::machineKeyFile()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("velor_pro.conf"));
    QString type = QStringLiteral("x"), base = QStringLiteral("y");
    QVERIFY(!NewVelorMachineKeyFile(name)->Read(type, base));
    WriteText(name, "[VELOR_PRO]\nLocationType=user\n");
    QVERIFY(NewVelorMachineKeyFile(name)->Read(type, base));
    QCOMPARE(type, QStringLiteral("user"));
    QCOMPARE(base, QString());
}

void TestVelorConfig::noKeyAndNoConfigurationFile()
{
    QTemporaryDir program;
    const QString exeDir = program.path() + u'/';
    InitStandardPathsFor(program.path(), TzFakeMachineKey{});
    const TzVelorPaths &paths = VelorPaths();
    QCOMPARE(paths.ExeDir, exeDir);
    QCOMPARE(paths.ConfigFileName, exeDir + QStringLiteral("velor.ini"));
    QVERIFY(!paths.VelorConfig->ConfFileExist());
    QCOMPARE(paths.ConfDir, exeDir);
    QCOMPARE(paths.DataDir, exeDir + QStringLiteral("Data/"));
    QCOMPARE(paths.TmpDir, exeDir + QStringLiteral("temp/"));
    QCOMPARE(paths.LogDir, exeDir);
    QCOMPARE(paths.LangDir, exeDir + QStringLiteral("Lang/"));
    QCOMPARE(paths.XmlDir, exeDir);
    QCOMPARE(paths.DocDir, exeDir + QStringLiteral("Doc/"));
    // Nothing appears on disk.
    QCOMPARE(QDir(program.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestVelorConfig::configurationBesideTheProgramCreatesTheFolders()
{
    QTemporaryDir program;
    const QString exeDir = program.path() + u'/';
    WriteText(exeDir + QStringLiteral("velor.ini"), "[Path]\nXMLLocation=.\\Xml\\\nXMLLocationType=static\n");
    InitStandardPathsFor(program.path(), TzFakeMachineKey{});
    const TzVelorPaths &paths = VelorPaths();
    QVERIFY(paths.VelorConfig->ConfFileExist());
    QCOMPARE(paths.XmlDir, exeDir + QStringLiteral("Xml/"));
    QCOMPARE(paths.XmlKind, TzLocationKind::Static);
    for (const char *folder : {"Data", "temp", "Lang", "Doc", "Xml"})
        QVERIFY2(QFileInfo(exeDir + QLatin1String(folder)).isDir(), folder);
}

void TestVelorConfig::userKindMovesTheOldConfigurationOnce()
{
    QTemporaryDir program;
    const QString exeDir = program.path() + u'/';
    WriteText(exeDir + QStringLiteral("velor.ini"), "[Path]\nDocLocation=.\\OldDoc\\\nDocLocationType=static\n");
    TzFakeMachineKey key;
    key.Exists = true;
    key.LocationType = QStringLiteral("user");
    key.BasePath = QStringLiteral("Station7");

    const QString expected = UserConfigHome() + QStringLiteral("Corvana/Station7/velor.ini");
    QFile::remove(expected);
    InitStandardPathsFor(program.path(), key);
    QCOMPARE(VelorPaths().ConfigFileName, expected);
    QCOMPARE(VelorPaths().ConfigKind, TzLocationKind::User);
    QVERIFY(QFileInfo::exists(expected));
    QCOMPARE(VelorPaths().VelorConfig->DocLocation(), QStringLiteral(".\\OldDoc\\"));
    QCOMPARE(VelorPaths().DocDir, exeDir + QStringLiteral("OldDoc/"));
    QVERIFY(QFileInfo(exeDir + QStringLiteral("OldDoc")).isDir());

    // Once: a configuration at the new place is not overwritten by the old one again.
    CVelorConfig(expected, false)
        .WriteString(QStringLiteral("Path"), QStringLiteral("DocLocation"), QStringLiteral(".\\NewDoc\\"));
    InitStandardPathsFor(program.path(), key);
    QCOMPARE(VelorPaths().VelorConfig->DocLocation(), QStringLiteral(".\\NewDoc\\"));
    QFile::remove(expected);
}

void TestVelorConfig::staticRelativeBaseAndFolderKinds()
{
    QTemporaryDir program;
    const QString exeDir = program.path() + u'/';
    TzFakeMachineKey key;
    key.Exists = true;
    key.LocationType = QStringLiteral("static");
    key.BasePath = QStringLiteral("..\\shared\\conf\\");
    const QString configDir = QDir::cleanPath(exeDir + QStringLiteral("../shared/conf")) + u'/';
    QDir().mkpath(configDir);
    WriteText(configDir + QStringLiteral("velor.ini"),
              "[Path]\nLogLocation=logs\\\nLogLocationType=pcname\nLangLocation=$QUADREL_TEST_LANG\\\n"
              "LangLocationType=environment\nTMPLocation=.\\T\\\nTMPLocationType=static\n");
    qputenv("QUADREL_TEST_LANG", "lang-from-env");

    InitStandardPathsFor(program.path(), key);
    const TzVelorPaths &paths = VelorPaths();
    QCOMPARE(paths.ConfigFileName, configDir + QStringLiteral("velor.ini"));
    QVERIFY(paths.VelorConfig->ConfFileExist());
    QCOMPARE(paths.LogDir, exeDir + QStringLiteral("logs/") + paths.HostName + u'/');
    QCOMPARE(paths.LangDir, exeDir + QStringLiteral("lang-from-env/"));
    QCOMPARE(paths.TmpDir, exeDir + QStringLiteral("T/"));
    for (const QString &folder : {paths.LogDir, paths.LangDir, paths.TmpDir})
        QVERIFY2(QFileInfo(folder).isDir(), qPrintable(folder));
    QDir(configDir).removeRecursively();
}

QTEST_GUILESS_MAIN(TestVelorConfig)
#include "tst_VelorConfig.moc"
