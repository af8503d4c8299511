#include "ctl/uCtlCommandLine.h"

#include "common/uUtils.h"
#include "model/uQuadrelMap.h"
#include "model/uShimCalc.h"

#include <QDateTime>

#include <algorithm>
#include <functional>
#include <map>

namespace {

const std::map<QString, TzCtlCommand> &CommandWords()
{
    static const std::map<QString, TzCtlCommand> words{
        {QStringLiteral("status"), TzCtlCommand::Status},   {QStringLiteral("on"), TzCtlCommand::On},
        {QStringLiteral("off"), TzCtlCommand::Off},         {QStringLiteral("toggle"), TzCtlCommand::Toggle},
        {QStringLiteral("all"), TzCtlCommand::All},         {QStringLiteral("safe"), TzCtlCommand::Safe},
        {QStringLiteral("pwm"), TzCtlCommand::Pwm},         {QStringLiteral("network"), TzCtlCommand::Network},
        {QStringLiteral("restart"), TzCtlCommand::Restart}, {QStringLiteral("id"), TzCtlCommand::Id},
        {QStringLiteral("scan"), TzCtlCommand::Scan},       {QStringLiteral("watch"), TzCtlCommand::Watch},
        {QStringLiteral("history"), TzCtlCommand::History}};
    return words;
}

// Options that take a value, and the commands they belong to (None: any command).
struct TOptionInfo
{
    bool TakesValue = false;
    std::vector<TzCtlCommand> Only;
};

const std::map<QString, TOptionInfo> &Options()
{
    using C = TzCtlCommand;
    static const std::map<QString, TOptionInfo> options{{QStringLiteral("port"), {true, {}}},
                                                        {QStringLiteral("udp"), {true, {}}},
                                                        {QStringLiteral("baud"), {true, {}}},
                                                        {QStringLiteral("format"), {true, {}}},
                                                        {QStringLiteral("addr"), {true, {}}},
                                                        {QStringLiteral("timeout"), {true, {}}},
                                                        {QStringLiteral("json"), {false, {}}},
                                                        {QStringLiteral("no-verify"), {false, {}}},
                                                        {QStringLiteral("help"), {false, {}}},
                                                        {QStringLiteral("version"), {false, {}}},
                                                        {QStringLiteral("unit"), {true, {C::Pwm}}},
                                                        {QStringLiteral("period"), {true, {C::Pwm}}},
                                                        {QStringLiteral("fill"), {true, {C::Pwm}}},
                                                        {QStringLiteral("closed"), {true, {C::Pwm}}},
                                                        {QStringLiteral("open"), {true, {C::Pwm}}},
                                                        {QStringLiteral("all-speeds"), {false, {C::Scan}}},
                                                        {QStringLiteral("deadband"), {true, {C::Watch}}},
                                                        {QStringLiteral("from"), {true, {C::History}}},
                                                        {QStringLiteral("to"), {true, {C::History}}},
                                                        {QStringLiteral("output"), {true, {C::History}}}};
    return options;
}

// A whole number written with digits only (no sign, no spaces).
std::optional<qint64> Digits(const QString &aText)
{
    if (aText.isEmpty() || aText.size() > 12)
        return std::nullopt;
    for (const QChar c : aText)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    return aText.toLongLong();
}

class TParser
{
public:
    explicit TParser(TzCtlParseResult &aResult) : fResult(aResult), fRequest(aResult.Request) {}

    bool Parse(const QStringList &aArguments);
    // Once the words are read: the command's own words and options.
    bool Positionals();
    bool CheckCommandOptions();

private:
    bool Mistake(const QString &aText)
    {
        fResult.Outcome = TzCtlParse::Mistake;
        fResult.Text = aText;
        return false;
    }
    bool Option(const QString &aName, const QString &aValue, bool aAfterCommand);
    bool NumberIn(const QString &aOption, const QString &aValue, qint64 aMin, qint64 aMax, qint64 &aNumber);
    bool Speed(const QString &aOption, const QString &aValue, std::optional<int> &aSpeed);
    bool Format(const QString &aOption, const QString &aValue, std::optional<int> &aItem);
    bool Output(const QString &aText, int &aOutput);
    bool OnOff(const QString &aText, bool &aOn);

    TzCtlParseResult &fResult;
    TzCtlRequest &fRequest;
    QStringList fPositionals;
    QStringList fGiven; // command options given, for the check against the command
};

bool TParser::NumberIn(const QString &aOption, const QString &aValue, qint64 aMin, qint64 aMax, qint64 &aNumber)
{
    const std::optional<qint64> number = Digits(aValue);
    if (!number || *number < aMin || *number > aMax)
        return Mistake(QStringLiteral("«--%1» ждёт целое число от %2 до %3, получено «%4»")
                           .arg(aOption)
                           .arg(aMin)
                           .arg(aMax)
                           .arg(aValue));
    aNumber = *number;
    return true;
}

bool TParser::Speed(const QString &aOption, const QString &aValue, std::optional<int> &aSpeed)
{
    if (!CtlSpeeds().contains(aValue))
        return Mistake(QStringLiteral("скорости «%1» нет в списке (%2): «--%3»")
                           .arg(aValue, CtlSpeeds().join(QStringLiteral(", ")), aOption));
    aSpeed = aValue.toInt();
    return true;
}

bool TParser::Format(const QString &aOption, const QString &aValue, std::optional<int> &aItem)
{
    const int item = int(CtlFormats().indexOf(aValue.toUpper()));
    if (item < 0)
        return Mistake(QStringLiteral("формата «%1» нет в списке (%2): «--%3»")
                           .arg(aValue, CtlFormats().join(QStringLiteral(", ")), aOption));
    aItem = item;
    return true;
}

bool TParser::Option(const QString &aName, const QString &aValue, bool aAfterCommand)
{
    qint64 number = 0;
    // After the word `network`, the line options are the module's new settings.
    if (aAfterCommand && fRequest.Command == TzCtlCommand::Network) {
        TzCtlNetwork &network = fRequest.Network;
        if (aName == QLatin1String("addr")) {
            if (!NumberIn(aName, aValue, 1, 247, number))
                return false;
            network.Address = int(number);
            return true;
        }
        if (aName == QLatin1String("baud"))
            return Speed(aName, aValue, network.BaudRate);
        if (aName == QLatin1String("format"))
            return Format(aName, aValue, network.FormatItem);
        if (aName == QLatin1String("timeout")) {
            if (!NumberIn(aName, aValue, 0, 600, number))
                return false;
            network.TimeoutSec = int(number);
            return true;
        }
    }
    TzCtlTarget &target = fRequest.Target;
    // The options that take a whole number: its range and where it goes.
    struct TInteger
    {
        qint64 Min, Max;
        std::function<void(qint64)> Store;
    };
    const std::map<QString, TInteger> integers{
        {QStringLiteral("addr"), {1, 247, [&](qint64 aValue) { target.Address = int(aValue); }}},
        {QStringLiteral("timeout"), {1, 60000, [&](qint64 aValue) { target.TimeoutMs = int(aValue); }}},
        {QStringLiteral("unit"),
         {ShimCalc::MinScale, ShimCalc::MaxScale, [&](qint64 aValue) { fRequest.Unit = int(aValue); }}},
        {QStringLiteral("period"),
         {ShimCalc::MinPeriod, ShimCalc::MaxPeriod, [&](qint64 aValue) { fRequest.Period = int(aValue); }}},
        {QStringLiteral("fill"),
         {ShimCalc::MinKoef, ShimCalc::MaxKoef, [&](qint64 aValue) { fRequest.Fill = int(aValue); }}},
        {QStringLiteral("closed"), {0, ShimCalc::MaxCycleMs, [&](qint64 aValue) { fRequest.ClosedMs = aValue; }}},
        {QStringLiteral("open"), {0, ShimCalc::MaxCycleMs, [&](qint64 aValue) { fRequest.OpenMs = aValue; }}},
        {QStringLiteral("output"),
         {1, QuadrelMap::OutputCount, [&](qint64 aValue) { fRequest.HistoryOutput = int(aValue); }}},
        {QStringLiteral("deadband"), {0, 100000, [&](qint64 aValue) { fRequest.DeadbandMv = int(aValue); }}}};
    if (const auto integer = integers.find(aName); integer != integers.end()) {
        if (!NumberIn(aName, aValue, integer->second.Min, integer->second.Max, number))
            return false;
        integer->second.Store(number);
    } else if (aName == QLatin1String("port")) {
        if (aValue.isEmpty())
            return Mistake(QStringLiteral("«--port» ждёт имя порта"));
        target.Port = aValue;
    } else if (aName == QLatin1String("udp")) {
        const int colon = int(aValue.lastIndexOf(u':'));
        const QString host = colon < 0 ? aValue : aValue.left(colon);
        if (!IsValidIPv4(host))
            return Mistake(
                QStringLiteral("«--udp» ждёт IPv4-адрес преобразователя (и порт через двоеточие), получено «%1»")
                    .arg(aValue));
        if (colon >= 0) {
            if (!NumberIn(aName, aValue.mid(colon + 1), 1, 65535, number))
                return false;
            target.UdpPort = int(number);
        }
        target.UdpHost = host;
    } else if (aName == QLatin1String("baud")) {
        return Speed(aName, aValue, target.BaudRate);
    } else if (aName == QLatin1String("format")) {
        return Format(aName, aValue, target.FormatItem);
    } else if (aName == QLatin1String("json")) {
        fRequest.Json = true;
    } else if (aName == QLatin1String("no-verify")) {
        fRequest.Verify = false;
    } else if (aName == QLatin1String("all-speeds")) {
        fRequest.AllSpeeds = true;
    } else if (aName == QLatin1String("from") || aName == QLatin1String("to")) {
        const std::optional<qint64> moment = ParseCtlMoment(aValue, QDateTime::currentMSecsSinceEpoch());
        if (!moment)
            return Mistake(QStringLiteral("«--%1» ждёт дату и время (2026-12-11 08:30) или срок назад (-2h, -7d), "
                                          "получено «%2»")
                               .arg(aName, aValue));
        (aName == QLatin1String("from") ? fRequest.FromMs : fRequest.ToMs) = moment;
    }
    return true;
}

bool TParser::Parse(const QStringList &aArguments)
{
    bool afterCommand = false;
    bool onlyPositionals = false;
    for (int i = 0; i < aArguments.size(); ++i) {
        const QString &word = aArguments[i];
        if (onlyPositionals || !word.startsWith(u'-') || word == QLatin1String("-")) {
            if (!afterCommand) {
                const auto command = CommandWords().find(word);
                if (command == CommandWords().end())
                    return Mistake(QStringLiteral("неизвестная команда «%1»").arg(word));
                fRequest.Command = command->second;
                afterCommand = true;
            } else {
                fPositionals << word;
            }
            continue;
        }
        if (word == QLatin1String("--")) {
            onlyPositionals = true;
            continue;
        }
        QString name;
        if (word == QLatin1String("-h"))
            name = QStringLiteral("help");
        else if (word == QLatin1String("-v"))
            name = QStringLiteral("version");
        else if (word.startsWith(QLatin1String("--")))
            name = word.mid(2);
        std::optional<QString> value;
        if (const int equals = int(name.indexOf(u'=')); equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        }
        const auto option = Options().find(name);
        if (name.isEmpty() || option == Options().end())
            return Mistake(QStringLiteral("неизвестный параметр «%1»").arg(word));
        if (name == QLatin1String("help") || name == QLatin1String("version")) {
            fResult.Outcome = name == QLatin1String("help") ? TzCtlParse::Help : TzCtlParse::Version;
            return true;
        }
        if (option->second.TakesValue && !value) {
            if (i + 1 >= aArguments.size())
                return Mistake(QStringLiteral("параметру «--%1» нужно значение").arg(name));
            value = aArguments[++i];
        } else if (!option->second.TakesValue && value) {
            return Mistake(QStringLiteral("параметр «--%1» не принимает значения").arg(name));
        }
        if (!option->second.Only.empty())
            fGiven << name;
        if (!Option(name, value.value_or(QString()), afterCommand))
            return false;
    }
    return true;
}

bool TParser::Output(const QString &aText, int &aOutput)
{
    const std::optional<qint64> number = Digits(aText);
    if (!number || *number < 1 || *number > QuadrelMap::OutputCount)
        return Mistake(QStringLiteral("номер выхода должен быть от 1 до %1, получено «%2»")
                           .arg(QuadrelMap::OutputCount)
                           .arg(aText));
    aOutput = int(*number);
    return true;
}

bool TParser::OnOff(const QString &aText, bool &aOn)
{
    if (aText != QLatin1String("on") && aText != QLatin1String("off"))
        return Mistake(QStringLiteral("ожидалось «on» или «off», получено «%1»").arg(aText));
    aOn = aText == QLatin1String("on");
    return true;
}

bool TParser::Positionals()
{
    const QString word = CtlCommandWord(fRequest.Command);
    auto count = [&](int aWanted, const QString &aWhat) {
        if (fPositionals.size() == aWanted)
            return true;
        return Mistake(QStringLiteral("команде «%1» нужно: %2").arg(word, aWhat));
    };
    switch (fRequest.Command) {
    case TzCtlCommand::On:
    case TzCtlCommand::Off:
    case TzCtlCommand::Toggle:
        if (fPositionals.isEmpty())
            return Mistake(QStringLiteral("команде «%1» нужны номера выходов (1..20)").arg(word));
        for (const QString &text : fPositionals) {
            int output = 0;
            if (!Output(text, output))
                return false;
            if (std::find(fRequest.Outputs.begin(), fRequest.Outputs.end(), output) != fRequest.Outputs.end())
                return Mistake(QStringLiteral("выход %1 указан дважды").arg(output));
            fRequest.Outputs.push_back(output);
        }
        return true;
    case TzCtlCommand::All: return count(1, QStringLiteral("on или off")) && OnOff(fPositionals[0], fRequest.SwitchOn);
    case TzCtlCommand::Safe: {
        int output = 0;
        if (!count(2, QStringLiteral("номер выхода и on или off")) || !Output(fPositionals[0], output))
            return false;
        fRequest.Outputs = {output};
        return OnOff(fPositionals[1], fRequest.SwitchOn);
    }
    case TzCtlCommand::Pwm: {
        int output = 0;
        if (!count(1, QStringLiteral("номер выхода")) || !Output(fPositionals[0], output))
            return false;
        fRequest.Outputs = {output};
        const bool parameters = fRequest.Unit || fRequest.Period || fRequest.Fill;
        const bool durations = fRequest.ClosedMs || fRequest.OpenMs;
        if (parameters == durations || (parameters && !(fRequest.Unit && fRequest.Period && fRequest.Fill))
            || (durations && !(fRequest.ClosedMs && fRequest.OpenMs)))
            return Mistake(
                QStringLiteral("команде «pwm» нужны либо «--unit», «--period» и «--fill», либо «--closed» и «--open»"));
        if (durations) {
            const qint64 cycle = *fRequest.ClosedMs + *fRequest.OpenMs;
            if (cycle < ShimCalc::MinCycleMs || cycle > ShimCalc::MaxCycleMs)
                return Mistake(QStringLiteral("«--closed» и «--open» вместе должны дать от %1 до %2 мс, получено %3 мс")
                                   .arg(ShimCalc::MinCycleMs)
                                   .arg(ShimCalc::MaxCycleMs)
                                   .arg(cycle));
        }
        return true;
    }
    case TzCtlCommand::Network: {
        const TzCtlNetwork &n = fRequest.Network;
        if (!count(0, QStringLiteral("только параметры")))
            return false;
        if (!n.Address && !n.BaudRate && !n.FormatItem && !n.TimeoutSec)
            return Mistake(QStringLiteral(
                "команде «network» нужен хотя бы один из параметров «--addr», «--baud», «--format», «--timeout»"));
        return true;
    }
    case TzCtlCommand::History:
        if (fRequest.FromMs && fRequest.ToMs && *fRequest.FromMs >= *fRequest.ToMs)
            return Mistake(QStringLiteral("«--from» должно быть раньше «--to»"));
        return count(0, QStringLiteral("только параметры"));
    default: return fPositionals.isEmpty() || count(0, QStringLiteral("никаких слов после команды"));
    }
}

bool TParser::CheckCommandOptions()
{
    for (const QString &name : fGiven) {
        const std::vector<TzCtlCommand> &only = Options().at(name).Only;
        if (std::find(only.begin(), only.end(), fRequest.Command) == only.end())
            return Mistake(QStringLiteral("параметр «--%1» не относится к команде «%2»")
                               .arg(name, CtlCommandWord(fRequest.Command)));
    }
    return true;
}

} // namespace

std::optional<qint64> ParseCtlMoment(const QString &aText, qint64 aNowMs)
{
    if (aText.startsWith(u'-') && aText.size() >= 3) {
        const std::optional<qint64> amount = Digits(aText.mid(1, aText.size() - 2));
        static const std::map<QChar, qint64> units{{u'm', 60000}, {u'h', 3600000}, {u'd', 86400000}};
        const auto unit = units.find(aText.back());
        if (!amount || unit == units.end())
            return std::nullopt;
        return aNowMs - *amount * unit->second;
    }
    for (const QString &format :
         {QStringLiteral("yyyy-MM-dd"), QStringLiteral("yyyy-MM-ddTHH:mm"), QStringLiteral("yyyy-MM-dd HH:mm"),
          QStringLiteral("yyyy-MM-ddTHH:mm:ss"), QStringLiteral("yyyy-MM-dd HH:mm:ss")}) {
        const QDateTime moment = QDateTime::fromString(aText, format);
        if (moment.isValid())
            return moment.toMSecsSinceEpoch();
    }
    return std::nullopt;
}

const QStringList &CtlSpeeds()
{
    static const QStringList speeds{"1200",  "2400",  "4800",  "9600",  "14400",
                                    "19200", "28800", "38400", "57600", "115200"};
    return speeds;
}

const QStringList &CtlFormats()
{
    static const QStringList formats{"8N1", "8O1", "8E1", "8N2"};
    return formats;
}

QString CtlCommandWord(TzCtlCommand aCommand)
{
    for (const auto &[word, command] : CommandWords())
        if (command == aCommand)
            return word;
    return QString();
}

TzCtlParseResult ParseCtlCommandLine(const QStringList &aArguments)
{
    TzCtlParseResult result;
    TParser parser(result);
    if (!parser.Parse(aArguments))
        return result;
    if (result.Outcome == TzCtlParse::Help) {
        result.Text = CtlHelpText();
        return result;
    }
    if (result.Outcome == TzCtlParse::Version)
        return result;
    result.Outcome = TzCtlParse::Mistake;
    if (result.Request.Command == TzCtlCommand::None) {
        result.Text = QStringLiteral("не указана команда");
        return result;
    }
    if (result.Request.Target.Port && result.Request.Target.UdpHost) {
        result.Text = QStringLiteral("«--port» и «--udp» вместе не указываются: модуль доступен либо через порт, "
                                     "либо через преобразователь");
        return result;
    }
    if (!parser.CheckCommandOptions() || !parser.Positionals())
        return result;
    result.Outcome = TzCtlParse::Run;
    return result;
}

QString CtlHelpText()
{
    return QStringLiteral(
        "Использование: quadrelctl [параметры] команда [аргументы] [параметры]\n"
        "Модуль реле Quadrel из командной строки.\n"
        "\n"
        "Где модуль (без --port и --udp берутся настройки панели из Options.xml):\n"
        "  --port ИМЯ            последовательный порт (/dev/ttyUSB0, COM3)\n"
        "  --baud СКОРОСТЬ       1200 2400 4800 9600 14400 19200 28800 38400 57600 115200\n"
        "  --format ФОРМАТ       8N1 8O1 8E1 8N2\n"
        "  --udp АДРЕС[:ПОРТ]    через преобразователь Lanvey-Ethernet (порт по умолчанию 40000)\n"
        "  --addr АДРЕС          адрес модуля, 1..247 (по умолчанию 16)\n"
        "  --timeout МС          время ожидания ответа\n"
        "\n"
        "Вывод:\n"
        "  --json                ответ в формате JSON\n"
        "  --no-verify           не читать состояние выходов после переключения\n"
        "  -h, --help            эта справка\n"
        "  -v, --version         версия программы\n"
        "\n"
        "Команды:\n"
        "  status                         состояние модуля и всех выходов\n"
        "  on N...  off N...  toggle N... включить, выключить, переключить выходы 1..20\n"
        "  all on|off                     все выходы\n"
        "  safe N on|off                  безопасное состояние выхода\n"
        "  pwm N --unit U --period P --fill F   параметры ШИМ выхода\n"
        "  pwm N --closed МС --open МС          ШИМ по длительностям (расчёт панели)\n"
        "  network [--addr A] [--baud B] [--format F] [--timeout С]   сетевые настройки модуля\n"
        "  restart                        перезагрузить модуль (новые сетевые настройки вступают в силу)\n"
        "  id                             тип, идентификатор и версия прошивки\n"
        "  scan [--all-speeds]            поиск модулей на шине\n"
        "  watch [--deadband МВ]          следить за изменениями до Ctrl+C\n"
        "  history [--from T] [--to T] [--output N]   события из журнала панели (по умолчанию за сутки)\n"
        "\n"
        "Код выхода: 0 успех, 1 нет ответа или ошибка связи, 2 ошибка в командной строке,\n"
        "3 модуль отклонил запрос (исключение Modbus).\n");
}
