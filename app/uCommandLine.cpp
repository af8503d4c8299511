#include "app/uCommandLine.h"

#include "app/uProgramInfo.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>

namespace {

const QString TestWord = QStringLiteral("test");
const QString AutorunWord = QStringLiteral("/autorun");

struct TzOptions
{
    QCommandLineOption Help{{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("показать эту справку")};
    QCommandLineOption Version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("показать версию программы")};
    QCommandLineOption Demo{QStringLiteral("demo"),
                            QStringLiteral("запустить панель с имитатором модуля, уже выбранным в списке портов")};
    QCommandLineOption Connect{QStringLiteral("connect"),
                               QStringLiteral("подключиться при запуске с выбранными настройками")};
    QCommandLineOption Screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("сохранить изображение окна в ФАЙЛ (PNG) и завершить работу"),
                                  QStringLiteral("ФАЙЛ")};
    QCommandLineOption After{QStringLiteral("after"),
                             QStringLiteral("снимок через МС миллисекунд после запуска (по умолчанию 1500)"),
                             QStringLiteral("МС")};

    QList<const QCommandLineOption *> All() const { return {&Help, &Version, &Demo, &Connect, &Screenshot, &After}; }
};

QString OptionSpelling(const QCommandLineOption &aOption)
{
    QStringList names;
    for (const QString &name : aOption.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString spelling = names.join(QStringLiteral(", "));
    if (!aOption.valueName().isEmpty())
        spelling += QLatin1Char(' ') + aOption.valueName();
    return spelling;
}

QString HelpText(const TzOptions &aOptions)
{
    const QString program = ProgramName();
    QStringList lines;
    lines << QStringLiteral("Использование: %1 [параметры] [/autorun] [test]").arg(program)
          << ProgramDisplayName() + QStringLiteral(": управление релейным модулем Quadrel по Modbus RTU.") << QString()
          << QStringLiteral("Параметры:");
    int width = 0;
    for (const QCommandLineOption *option : aOptions.All())
        width = std::max(width, int(OptionSpelling(*option).size()));
    for (const QCommandLineOption *option : aOptions.All())
        lines << QStringLiteral("  %1  %2").arg(OptionSpelling(*option), -width).arg(option->description());
    lines << QString() << QStringLiteral("Слова:")
          << QStringLiteral("  %1  %2")
                 .arg(AutorunWord, -width)
                 .arg(QStringLiteral("запуск при входе в систему (первым параметром): без окон сообщений"))
          << QStringLiteral("  %1  %2").arg(TestWord, -width).arg(QStringLiteral("включить тестовый функционал"));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString Failure(const QString &aWhat)
{
    return QStringLiteral("%1: %2\nСправка: %1 --help\n").arg(ProgramName(), aWhat);
}

} // namespace

TzCommandLineResult ParseCommandLine(const QStringList &aArguments)
{
    TzCommandLineResult result;
    TzOptions options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QCommandLineOption *option : options.All())
        parser.addOption(*option);
    parser.addPositionalArgument(AutorunWord, QString());
    parser.addPositionalArgument(TestWord, QString());

    const bool parsed = parser.parse(aArguments);
    // Help and version answer even beside a mistake, so the operator sees how to mend it.
    if (parser.isSet(options.Help)) {
        result.Action = TzCommandLineAction::ShowHelp;
        result.Text = HelpText(options);
        return result;
    }
    if (parser.isSet(options.Version)) {
        result.Action = TzCommandLineAction::ShowVersion;
        result.Text = QStringLiteral("%1 %2\n").arg(ProgramName(), ProgramVersion());
        return result;
    }
    result.Action = TzCommandLineAction::Fail;
    if (!parsed) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString name = unknown.front();
            const QString spelled = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
            result.Text = Failure(QStringLiteral("неизвестный параметр «%1»").arg(spelled));
        } else {
            // The only other mistake the parser knows: an option without its value.
            QString needing;
            for (const QCommandLineOption *option : {&options.Screenshot, &options.After})
                if (aArguments.contains(QStringLiteral("--") + option->names().front()))
                    needing = QStringLiteral("--") + option->names().front();
            result.Text = Failure(needing.isEmpty() ? parser.errorText()
                                                    : QStringLiteral("параметру «%1» нужно значение").arg(needing));
        }
        return result;
    }

    // Other words are passed over, as they always were: a log-on entry or a shortcut written for
    // an older version still starts the panel ("/AUTORUN" is not "/autorun", "TEST" is not "test").
    result.Options.TestMode = parser.positionalArguments().contains(TestWord);
    // Only as the very first parameter, as the log-on registration writes it.
    result.Options.Autorun = aArguments.value(1) == AutorunWord;
    result.Options.Demo = parser.isSet(options.Demo);
    result.Options.Connect = parser.isSet(options.Connect);
    result.Options.Screenshot = parser.value(options.Screenshot);
    if (parser.isSet(options.After)) {
        bool number = false;
        const int after = parser.value(options.After).toInt(&number);
        if (!number || after < 0) {
            result.Text = Failure(
                QStringLiteral("«--after» ждёт число миллисекунд, получено «%1»").arg(parser.value(options.After)));
            return result;
        }
        result.Options.ScreenshotAfterMs = after;
    }
    result.Action = TzCommandLineAction::Run;
    return result;
}

bool CommandLineAsksForText(const QStringList &aArguments)
{
    const TzCommandLineAction action = ParseCommandLine(aArguments).Action;
    if (action == TzCommandLineAction::ShowHelp || action == TzCommandLineAction::ShowVersion)
        return true;
    if (action != TzCommandLineAction::Fail)
        return false;
    // A mistake is answered before any window system is opened too, so it is named even without a
    // display, unless the line holds one of the toolkit's own options (-platform, -style ...),
    // which only the application object takes off the line.
    static const QStringList toolkitOptions{QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
                                            QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
                                            QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
                                            QStringLiteral("qwindowtitle"),    QStringLiteral("reverse"),
                                            QStringLiteral("session"),         QStringLiteral("style"),
                                            QStringLiteral("stylesheet"),      QStringLiteral("widgetcount"),
                                            QStringLiteral("display"),         QStringLiteral("geometry"),
                                            QStringLiteral("dialogs"),         QStringLiteral("nograb"),
                                            QStringLiteral("dograb"),          QStringLiteral("qmljsdebugger")};
    for (const QString &argument : aArguments.mid(1)) {
        QString name = argument;
        while (name.startsWith(u'-'))
            name.remove(0, 1);
        if (name != argument && toolkitOptions.contains(name.section(u'=', 0, 0)))
            return false;
    }
    return true;
}
