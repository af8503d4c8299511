// quadrel-save-stress: the panel saving its settings without pause, for scripts/kill-during-saves.sh.
//   quadrel-save-stress run     saves Options.xml (both parts), the project file and velor.ini in
//                               a loop, alternating between two complete sets of settings
//   quadrel-save-stress check   exit 0 when every file left in $QUADREL_SETTINGS_DIR parses and
//                               holds one whole set, 1 (with the reason) otherwise
// Both use the panel's own code paths; the folder is taken from QUADREL_SETTINGS_DIR.

#include "VelorCommonUtils/VelorIniFiles.h"
#include "diagnostics/uTempLog.h"
#include "panel/uProjectFile.h"
#include "panel/uProjectKeeper.h"
#include "panel/uQuadrel.h"
#include "panel/uRelayGrid.h"
#include "panel/uStyles.h"
#include "settings/uOptionsFile.h"
#include "settings/uSettingsPlace.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

struct TzSet
{
    QString Addr, Timeout, Host, EthAddr, ProxyServer, ProxyPass, Key, Hint, Ini;
    int Baud, Format, Port, Wait, EthFormat, Delay, Style;
    bool Mini, Autostart, DelayOn, Ethernet;
};

const TzSet Sets[2] = {
    {"11", "31",  "127.0.0.11", "12", "proxy-a", "pass-a", "keyA", "описание A", "A",  1,
     1,    40011, 111,          1,    11,        1,        true,   false,        true, false},
    {"22", "62",  "127.0.0.22", "23", "proxy-b", "pass-b", "keyB", "описание B", "B",   2,
     2,    40022, 222,          2,    22,        2,        false,  true,         false, true},
};

QString IniFile()
{
    return SettingsFolder() + QStringLiteral("velor.ini");
}

// A control or helper of the frame by its object name.
template <class T>
T *Part(TfrQuadrel &aFrame, const char *aName)
{
    return aFrame.findChild<T *>(QString::fromLatin1(aName));
}

void Apply(TfrQuadrel &aFrame, const TzSet &aSet, int aRound)
{
    QCheckBox *mini = Part<QCheckBox>(aFrame, "chkAutorunMini");
    QCheckBox *autostart = Part<QCheckBox>(aFrame, "chkAutoStart");
    QCheckBox *delayOn = Part<QCheckBox>(aFrame, "chkAutoStartDelay");
    QLineEdit *delay = Part<QLineEdit>(aFrame, "txtAutostartDelay");
    TzFormStyler *styler = Part<TzFormStyler>(aFrame, "AdvFormStyler1");
    {
        const QSignalBlocker b1(Part<QLineEdit>(aFrame, "txtLineAddr")), b2(Part<QLineEdit>(aFrame, "txtLineTimeout")),
            b3(Part<QComboBox>(aFrame, "cbLineBaudRate")), b4(Part<QComboBox>(aFrame, "cbLineFormat")),
            b5(Part<QLineEdit>(aFrame, "txtEthernetAddr")), b6(Part<QLineEdit>(aFrame, "txtEthernetPort")),
            b7(Part<QLineEdit>(aFrame, "txtEthernetTimeout")), b8(Part<QLineEdit>(aFrame, "txtLineAddrEth")),
            b9(Part<QComboBox>(aFrame, "cbLineFormatEth")), b10(Part<QTabWidget>(aFrame, "ConnectPager")), b11(delay),
            b12(styler), b13(Part<QComboBox>(aFrame, "cbStyles"));
        Part<QLineEdit>(aFrame, "txtLineAddr")->setText(aSet.Addr);
        Part<QLineEdit>(aFrame, "txtLineTimeout")->setText(aSet.Timeout);
        Part<QComboBox>(aFrame, "cbLineBaudRate")->setCurrentIndex(aSet.Baud);
        Part<QComboBox>(aFrame, "cbLineFormat")->setCurrentIndex(aSet.Format);
        Part<QLineEdit>(aFrame, "txtEthernetAddr")->setText(aSet.Host);
        Part<QLineEdit>(aFrame, "txtEthernetPort")->setText(QString::number(aSet.Port));
        Part<QLineEdit>(aFrame, "txtEthernetTimeout")->setText(QString::number(aSet.Wait));
        Part<QLineEdit>(aFrame, "txtLineAddrEth")->setText(aSet.EthAddr);
        Part<QComboBox>(aFrame, "cbLineFormatEth")->setCurrentIndex(aSet.EthFormat);
        Part<QTabWidget>(aFrame, "ConnectPager")
            ->setCurrentWidget(aSet.Ethernet ? Part<QWidget>(aFrame, "PageConnEthernet")
                                             : Part<QWidget>(aFrame, "PageConnCOM"));
        mini->setChecked(aSet.Mini);
        autostart->setChecked(aSet.Autostart);
        delayOn->setChecked(aSet.DelayOn);
        delay->setText(QString::number(aSet.Delay));
        // The style list changes every few rounds only: applying a style sheet is slow.
        if (aRound % 8 == 0)
            styler->SetStyle(aSet.Style);
    }
    aFrame.SaveOptions();

    aFrame.findChild<QLineEdit *>(QStringLiteral("txtProxyServer"))->setText(aSet.ProxyServer);
    aFrame.findChild<QLineEdit *>(QStringLiteral("txtProxyPass"))->setText(aSet.ProxyPass);
    aFrame.findChild<QLineEdit *>(QStringLiteral("txtAuthKey"))->setText(aSet.Key);
    // "Сохранить" of the web bridge's panel saves its settings.
    Part<QPushButton>(aFrame, "btnHTTP_Apply")->click();

    for (int n = 1; n <= 20; ++n)
        Part<TzRelayGrid>(aFrame, "SG_Relays")->SetDescription(n, aSet.Hint + QString::number(n));
    TzProjectKeeper *project = Part<TzProjectKeeper>(aFrame, "ProjectKeeper");
    project->Save(project->Path());

    const QString source = SettingsFolder() + QStringLiteral("set") + aSet.Ini + QStringLiteral(".ini");
    CVelorConfig config(IniFile(), false);
    config.WriteFileFromIni(CConfigFile(source, true));
}

int Run(int argc, char **argv)
{
    QApplication app(argc, argv);
    for (const TzSet &set : Sets) {
        QFile source(SettingsFolder() + QStringLiteral("set") + set.Ini + QStringLiteral(".ini"));
        if (!source.exists() && source.open(QIODevice::WriteOnly)) {
            QByteArray text = "[Path]\n";
            for (const char *key : {"ConfLocation", "DataLocation", "TMPLocation", "LogLocation", "LangLocation",
                                    "XMLLocation", "DocLocation"})
                text += QByteArray(key) + "=.\\" + set.Ini.toLatin1() + "\\\n";
            source.write(text);
        }
    }
    TfrmTempLog log;
    TfrQuadrel frame;
    Part<QTimer>(frame, "ProjSaveTimer")->stop();
    int round = 0;
    QTimer loop;
    QObject::connect(&loop, &QTimer::timeout, [&] {
        Apply(frame, Sets[round % 2], round);
        ++round;
        if (round % 50 == 0)
            std::fprintf(stderr, "round %d\n", round);
    });
    loop.start(0);
    return app.exec();
}

// Which set a value belongs to: 0 or 1, -1 for neither.
template <typename T>
int SetOf(const std::optional<T> &aValue, const T &aA, const T &aB)
{
    if (!aValue)
        return -1;
    return *aValue == aA ? 0 : *aValue == aB ? 1 : -1;
}

bool OneSet(const QList<int> &aMarks, const char *aWhat)
{
    for (const int mark : aMarks)
        if (mark < 0 || mark != aMarks.first()) {
            std::printf("%s: mixed or unknown values\n", aWhat);
            return false;
        }
    return true;
}

int Check()
{
    bool ok = true;
    const TzSet &a = Sets[0], &b = Sets[1];

    TzStoredOptions options;
    switch (ReadOptions(OptionsFileName(), options)) {
    case TzOptionsRead::Missing: break;
    case TzOptionsRead::Valid: {
        QList<int> marks{SetOf(options.Addr, a.Addr.toInt(), b.Addr.toInt()),
                         SetOf(options.Timeout, a.Timeout.toInt(), b.Timeout.toInt()),
                         SetOf(options.BaudRate, a.Baud, b.Baud),
                         SetOf(options.Format, a.Format, b.Format),
                         SetOf(options.EthernetHost, a.Host, b.Host),
                         SetOf(options.EthernetPort, a.Port, b.Port),
                         SetOf(options.EthernetTimeout, a.Wait, b.Wait),
                         SetOf(options.EthernetAddr, a.EthAddr.toInt(), b.EthAddr.toInt()),
                         SetOf(options.EthernetFormat, a.EthFormat, b.EthFormat),
                         SetOf(options.EthernetActive, int(a.Ethernet), int(b.Ethernet)),
                         SetOf(options.AutorunMini, int(a.Mini), int(b.Mini)),
                         SetOf(options.Autostart, int(a.Autostart), int(b.Autostart)),
                         SetOf(options.DelayOn, int(a.DelayOn), int(b.DelayOn)),
                         SetOf(options.DelayValue, a.Delay, b.Delay)};
        ok = OneSet(marks, "Options.xml connection settings") && ok;
        if (options.StyleIndex && *options.StyleIndex != DefaultStyleIndex && *options.StyleIndex != a.Style
            && *options.StyleIndex != b.Style) {
            std::printf("Options.xml: unknown style\n");
            ok = false;
        }
        TzStoredHttpOptions http;
        if (ReadHttpOptions(OptionsFileName(), http) == TzOptionsRead::Valid)
            ok = OneSet({SetOf(http.Server, a.ProxyServer, b.ProxyServer), SetOf(http.Pass, a.ProxyPass, b.ProxyPass),
                         SetOf(http.Key, a.Key, b.Key)},
                        "Options.xml web settings")
                 && ok;
        if (QFile::permissions(OptionsFileName())
            & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther)) {
            std::printf("Options.xml: readable by others\n");
            ok = false;
        }
        break;
    }
    default: std::printf("Options.xml: does not parse or is foreign\n"); ok = false;
    }

    const QString project = ProjectFolder() + QStringLiteral("DefaultProject.xml");
    if (QFile::exists(project)) {
        TzStoredHints hints;
        if (!ReadProjectFile(project, hints)) {
            std::printf("DefaultProject.xml: does not parse\n");
            ok = false;
        } else {
            QList<int> marks;
            for (int n = 1; n <= 20; ++n)
                marks.append(SetOf(hints[size_t(n - 1)], a.Hint + QString::number(n), b.Hint + QString::number(n)));
            ok = OneSet(marks, "DefaultProject.xml") && ok;
        }
    }

    if (QFile::exists(IniFile())) {
        const CVelorConfig config(IniFile(), true);
        const QString sa = QStringLiteral(".\\A\\"), sb = QStringLiteral(".\\B\\");
        QList<int> marks;
        for (const QString &value :
             {config.ConfLocation(), config.DataLocation(), config.TMPLocation(), config.LogLocation(),
              config.LangLocation(), config.XMLLocation(), config.DocLocation()})
            marks.append(SetOf(std::optional<QString>(value), sa, sb));
        ok = OneSet(marks, "velor.ini") && ok;
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (qEnvironmentVariableIsEmpty("QUADREL_SETTINGS_DIR")) {
        std::fprintf(stderr, "quadrel-save-stress: set QUADREL_SETTINGS_DIR to a scratch folder\n");
        return 2;
    }
    if (mode == QStringLiteral("run"))
        return Run(argc, argv);
    if (mode == QStringLiteral("check")) {
        QCoreApplication app(argc, argv);
        return Check();
    }
    std::fprintf(stderr, "usage: quadrel-save-stress run|check\n");
    return 2;
}
