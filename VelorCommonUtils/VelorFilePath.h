#pragma once
// VelorFilePath: at program start, locates the suite-wide configuration file "velor.ini" and the
// suite's standard folders (configuration, data, temporary files, logs, languages, XML,
// documents) from a machine-wide key, the configuration file itself and the program's folder.
// Folders are created only when the configuration file exists.

#include "VelorCommonUtils/VelorIniFiles.h"

#include <QString>

#include <memory>

enum class TzLocationKind { Default, Static, PcName, PcIp, Environment, User };

// "static", "pcname", "pcip", "environment", "user" (exactly); anything else is the default.
TzLocationKind LocationKindOf(const QString &aText);

// The machine-wide key: on Windows HKLM\SOFTWARE\CORVANA\VELOR_PRO, elsewhere the INI file
// /etc/corvana/velor_pro.conf, section [VELOR_PRO]. Tests put their own in its place.
class IzVelorMachineKey
{
public:
    virtual ~IzVelorMachineKey() = default;
    // False when the key does not exist; a missing value reads as empty.
    virtual bool Read(QString &aLocationType, QString &aBasePath) const = 0;
};

// The platform's key.
std::unique_ptr<IzVelorMachineKey> NewVelorMachineKey();
// The POSIX form, over an INI file.
std::unique_ptr<IzVelorMachineKey> NewVelorMachineKeyFile(const QString &aFileName);

// Which location ResolveLocation works out.
enum TzLocationTarget {
    locConfigFile = 0,
    locData = 1,
    locConfDir = 2,
    locTmp = 3,
    locLog = 4,
    locLang = 5,
    locXml = 6,
    locDoc = 7
};

// The process-wide state, filled once by InitStandardPaths.
struct TzVelorPaths
{
    QString ExeDir; // with a trailing separator
    QString HostName;
    QString HostIP;
    QString LocationType;
    QString BasePath;
    QString ConfigFileName;
    std::unique_ptr<CVelorConfig> VelorConfig;
    QString ConfDir, DataDir, TmpDir, LogDir, LangDir, XmlDir, DocDir;
    TzLocationKind ConfigKind = TzLocationKind::Default;
    TzLocationKind ConfKind = TzLocationKind::Default, DataKind = TzLocationKind::Default,
                   TmpKind = TzLocationKind::Default, LogKind = TzLocationKind::Default,
                   LangKind = TzLocationKind::Default, XmlKind = TzLocationKind::Default,
                   DocKind = TzLocationKind::Default;
};

TzVelorPaths &VelorPaths();

// Resolves one location from the state of VelorPaths(); see TzLocationTarget. Location texts may
// use either separator.
QString ResolveLocation(int aWhich, const QString &aLocation, TzLocationKind aKind);

// Runs once per process (later calls do nothing): the executable's folder, the platform's key.
void InitStandardPaths();
// The same steps for a given program folder and key; runs every time it is called.
void InitStandardPathsFor(const QString &aExeDir, const IzVelorMachineKey &aKey);
