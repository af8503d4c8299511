#pragma once
// quadrelctl's command line: where the module is, what to do and how to print it. Options may
// stand before or after the command word; for `network` only, the four line options after the word
// are the module's new settings. No I/O here: the result is a request or a usage mistake.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class TzCtlCommand { None, Status, On, Off, Toggle, All, Safe, Pwm, Network, Restart, Id, Scan, Watch, History };

// Where the module is, as far as the command line says.
struct TzCtlTarget
{
    std::optional<QString> Port;    // --port
    std::optional<QString> UdpHost; // --udp HOST[:PORT]
    std::optional<int> UdpPort;
    std::optional<int> BaudRate;
    std::optional<int> FormatItem; // 0..3: 8N1, 8O1, 8E1, 8N2
    std::optional<int> Address;
    std::optional<int> TimeoutMs;
};

// The new network settings of `network`; what is not given is not written.
struct TzCtlNetwork
{
    std::optional<int> Address;    // 1..247
    std::optional<int> BaudRate;   // from the speed list
    std::optional<int> FormatItem; // 0..3
    std::optional<int> TimeoutSec; // 0..600
};

struct TzCtlRequest
{
    TzCtlCommand Command = TzCtlCommand::None;
    TzCtlTarget Target;
    bool Json = false;
    bool Verify = true;
    std::vector<int> Outputs; // on, off, toggle (each once, in the order given); pwm and safe: one
    bool SwitchOn = false;    // all, safe
    // pwm: either the three parameters or the two durations.
    std::optional<int> Unit, Period, Fill;
    std::optional<qint64> ClosedMs, OpenMs;
    TzCtlNetwork Network;
    bool AllSpeeds = false; // scan
    int DeadbandMv = 200;   // watch
    // history: the range (milliseconds since the epoch; unset: the last 24 hours up to now) and
    // one output (0: all).
    std::optional<qint64> FromMs, ToMs;
    int HistoryOutput = 0;
};

enum class TzCtlParse { Run, Help, Version, Mistake };

struct TzCtlParseResult
{
    TzCtlParse Outcome = TzCtlParse::Mistake;
    TzCtlRequest Request;
    QString Text; // the help or version text, or what is wrong (one line, no program name)
};

// A moment on the command line: "2026-12-11", "2026-12-11T08:30", "2026-12-11 08:30:15" (local
// time), or back from now: "-90m", "-2h", "-7d".
std::optional<qint64> ParseCtlMoment(const QString &aText, qint64 aNowMs);

// aArguments without the program's own name.
TzCtlParseResult ParseCtlCommandLine(const QStringList &aArguments);
QString CtlHelpText();

// The speed list of the panel and the line formats ("8N1", "8O1", "8E1", "8N2").
const QStringList &CtlSpeeds();
const QStringList &CtlFormats();
QString CtlCommandWord(TzCtlCommand aCommand);
