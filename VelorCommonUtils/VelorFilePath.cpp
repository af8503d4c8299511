#include "VelorCommonUtils/VelorFilePath.h"

#include "VelorCommonUtils/PathUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QSysInfo>

#ifdef Q_OS_WIN
#include "VelorCommonUtils/VelorMachineKey_win.h"
#endif

namespace {

class TzMachineKeyFile : public IzVelorMachineKey
{
public:
    explicit TzMachineKeyFile(const QString &aFileName) : fFileName(aFileName) {}
    bool Read(QString &aLocationType, QString &aBasePath) const override
    {
        const CConfigFile file(fFileName, true);
        if (!file.ConfFileExist())
            return false;
        aLocationType = file.ReadString(QStringLiteral("VELOR_PRO"), QStringLiteral("LocationType"), QString());
        aBasePath = file.ReadString(QStringLiteral("VELOR_PRO"), QStringLiteral("BasePath"), QString());
        return true;
    }

private:
    QString fFileName;
};

#ifdef Q_OS_WIN
class TzMachineKeyRegistry : public IzVelorMachineKey
{
public:
    bool Read(QString &aLocationType, QString &aBasePath) const override
    {
        std::wstring type, base;
        if (!ReadVelorMachineKeyWin(type, base))
            return false;
        aLocationType = QString::fromStdWString(type);
        aBasePath = QString::fromStdWString(base);
        return true;
    }
};
#endif

// Location texts are written with backslashes in the suite's files; here they take the platform's
// separator.
QString NativeLocation(const QString &aLocation)
{
#ifdef Q_OS_WIN
    return aLocation;
#else
    QString location = aLocation;
    location.replace(u'\\', u'/');
    return location;
#endif
}

QString FirstLocalIPv4()
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return address.toString();
    return QString();
}

bool MakeFolder(const QString &aPath)
{
    return !aPath.isEmpty() && QDir().mkpath(aPath);
}

} // namespace

TzLocationKind LocationKindOf(const QString &aText)
{
    if (aText == QStringLiteral("static"))
        return TzLocationKind::Static;
    if (aText == QStringLiteral("pcname"))
        return TzLocationKind::PcName;
    if (aText == QStringLiteral("pcip"))
        return TzLocationKind::PcIp;
    if (aText == QStringLiteral("environment"))
        return TzLocationKind::Environment;
    if (aText == QStringLiteral("user"))
        return TzLocationKind::User;
    return TzLocationKind::Default;
}

std::unique_ptr<IzVelorMachineKey> NewVelorMachineKeyFile(const QString &aFileName)
{
    return std::make_unique<TzMachineKeyFile>(aFileName);
}

std::unique_ptr<IzVelorMachineKey> NewVelorMachineKey()
{
#ifdef Q_OS_WIN
    return std::make_unique<TzMachineKeyRegistry>();
#else
    return NewVelorMachineKeyFile(QStringLiteral("/etc/corvana/velor_pro.conf"));
#endif
}

TzVelorPaths &VelorPaths()
{
    static TzVelorPaths paths;
    return paths;
}

QString ResolveLocation(int aWhich, const QString &aLocation, TzLocationKind aKind)
{
    const TzVelorPaths &paths = VelorPaths();
    const QChar separator = NativePathSeparator();
    const QString location = NativeLocation(aLocation);
    QString result;
    switch (aKind) {
    case TzLocationKind::Default:
        switch (aWhich) {
        case locData: result = paths.ExeDir + QStringLiteral("Data") + separator; break;
        case locTmp:
            result = paths.VelorConfig ? NativeLocation(paths.VelorConfig->InternalBufDir()) : QString();
            break;
        case locLang: result = paths.ExeDir + QStringLiteral("Lang") + separator; break;
        case locDoc: result = paths.ExeDir + QStringLiteral("Doc") + separator; break;
        default: result = paths.ExeDir; break;
        }
        break;
    case TzLocationKind::Static: result = CombinePath(paths.ExeDir, location, separator); break;
    case TzLocationKind::PcName:
        result = WithTrailingSeparator(CombinePath(paths.ExeDir, location, separator), separator) + paths.HostName
                 + separator;
        break;
    case TzLocationKind::PcIp:
        result = WithTrailingSeparator(CombinePath(paths.ExeDir, location, separator), separator) + paths.HostIP
                 + separator;
        break;
    case TzLocationKind::Environment:
        result = CombinePath(paths.ExeDir, NativeLocation(ExpandEnvironment(aLocation)), separator);
        break;
    case TzLocationKind::User:
        result = CombinePath(UserConfigHome() + QStringLiteral("Corvana") + separator, location, separator);
        break;
    }
    if (aWhich == locConfigFile)
        result = WithTrailingSeparator(result, separator) + QStringLiteral("velor.ini");
    return result;
}

void InitStandardPathsFor(const QString &aExeDir, const IzVelorMachineKey &aKey)
{
    TzVelorPaths &paths = VelorPaths();
    const QChar separator = NativePathSeparator();
    paths = TzVelorPaths{};
    paths.ExeDir = WithTrailingSeparator(QDir::toNativeSeparators(aExeDir), separator);
    paths.HostName = QSysInfo::machineHostName();
    paths.HostIP = FirstLocalIPv4();

    if (!aKey.Read(paths.LocationType, paths.BasePath)) {
        paths.LocationType.clear();
        paths.BasePath.clear();
    }

    const QString defaultFile = paths.ExeDir + QStringLiteral("velor.ini");
    paths.ConfigKind = LocationKindOf(paths.LocationType);
    paths.ConfigFileName = ResolveLocation(locConfigFile, paths.BasePath, paths.ConfigKind);
    if (!MakeFolder(QFileInfo(paths.ConfigFileName).absolutePath()))
        paths.ConfigFileName = defaultFile;

    paths.VelorConfig = std::make_unique<CVelorConfig>(paths.ConfigFileName, false);
    CVelorConfig &config = *paths.VelorConfig;
    // An old configuration beside the program moves to the new place once.
    if (!config.ConfFileExist() && paths.ConfigFileName != defaultFile) {
        const CConfigFile old(defaultFile, true);
        if (old.ConfFileExist())
            config.WriteFileFromIni(old);
    }

    const bool configExists = config.ConfFileExist();
    auto folder = [&](int aWhich, const QString &aLocation, const QString &aKind, TzLocationKind &aKindOut) {
        aKindOut = LocationKindOf(aKind);
        const QString path = ResolveLocation(aWhich, aLocation, aKindOut);
        if (configExists)
            MakeFolder(path);
        return path;
    };

    paths.ConfDir = folder(locConfDir, config.ConfLocation(), config.ConfLocationType(), paths.ConfKind);
    if (!configExists || !QFileInfo(paths.ConfDir).isDir())
        paths.ConfDir = ResolveLocation(locConfDir, config.ConfLocation(), TzLocationKind::Default);
    paths.DataDir = folder(locData, config.DataLocation(), config.DataLocationType(), paths.DataKind);
    const TzLocationKind tmpKind = LocationKindOf(config.TMPLocationType());
    paths.TmpDir = folder(locTmp, tmpKind != TzLocationKind::Default ? config.TMPLocation() : config.InternalBufDir(),
                          config.TMPLocationType(), paths.TmpKind);
    if (paths.TmpDir.isEmpty()) {
        paths.TmpDir = CombinePath(paths.ExeDir, QStringLiteral("temp") + separator, separator);
        if (configExists)
            MakeFolder(paths.TmpDir);
    }
    paths.LogDir = folder(locLog, config.LogLocation(), config.LogLocationType(), paths.LogKind);
    paths.LangDir = folder(locLang, config.LangLocation(), config.LangLocationType(), paths.LangKind);
    paths.XmlDir = folder(locXml, config.XMLLocation(), config.XMLLocationType(), paths.XmlKind);
    paths.DocDir = folder(locDoc, config.DocLocation(), config.DocLocationType(), paths.DocKind);
}

void InitStandardPaths()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const std::unique_ptr<IzVelorMachineKey> key = NewVelorMachineKey();
    InitStandardPathsFor(QCoreApplication::applicationDirPath(), *key);
}
