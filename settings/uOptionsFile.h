#pragma once
// The options file Options.xml as values: what the panel writes into it and what it finds in it.
// The root is `options` with the children `comport`, `ethernet`, `autorun`, `style` and `http`
// (with `proxy` and `auth`). Saving keeps every other element and attribute of the file; a file
// whose root is not `options` is never written; a file that does not parse, or is beyond the
// readers' bounds, is never overwritten; a place that holds no regular file is never replaced.

#include <QString>

#include <optional>

// How the line engine ends an answer; stored as `answerend` of `comport`.
enum class TzAnswerEnd { Length, Gap };
QString AnswerEndText(TzAnswerEnd aEnd);
// "gap" is the gap rule; anything else, or nothing, the length rule.
TzAnswerEnd AnswerEndOf(const QString &aText);

// What SaveOptions writes.
struct TzOptionsToSave
{
    int Indx = 0;
    QString Name;
    QString Addr;
    int BaudRate = 0;
    int Format = 0;
    QString Timeout;
    TzAnswerEnd AnswerEnd = TzAnswerEnd::Length;

    // The `ethernet` element is written only when the three Ethernet fields are valid; otherwise it
    // keeps what it held.
    bool EthernetValid = false;
    bool EthernetActive = false;
    QString EthernetHost;
    int EthernetPort = 0;
    int EthernetTimeout = 0;
    QString EthernetAddr;
    int EthernetFormat = 0;

    bool AutorunMini = false;
    bool Autostart = false;
    bool DelayOn = false;
    int DelayValue = 10;

    int StyleIndex = 0;
};

// What a load of the options file finds: every value is there only when present and of the right form.
struct TzStoredOptions
{
    bool HasComport = false;
    std::optional<int> Indx;
    std::optional<QString> Name;
    std::optional<int> Addr, BaudRate, Format, Timeout;
    std::optional<QString> AnswerEnd;

    bool HasEthernet = false;
    std::optional<int> EthernetActive;
    std::optional<QString> EthernetHost;
    std::optional<int> EthernetPort, EthernetTimeout, EthernetAddr, EthernetFormat;

    bool HasAutorun = false;
    std::optional<int> AutorunMini, Autostart, DelayOn, DelayValue;

    std::optional<int> StyleIndex;
};

// The web bridge's settings.
struct TzHttpOptions
{
    bool ProxyEnabled = false;
    bool ProxyBasic = false;
    QString Server;
    QString Port;
    QString User;
    QString Pass;
    QString Key;
    // The service's base address; written only when set.
    std::optional<QString> Base;
};

struct TzStoredHttpOptions
{
    bool HasProxy = false;
    std::optional<int> Enabled, Basic, Port;
    std::optional<QString> Server, User, Pass;
    // Present, even empty, when `auth` has a `key` attribute.
    std::optional<QString> Key;
    std::optional<QString> Base;
};

// Malformed: not well-formed, or beyond the readers' bounds. Unreadable: it cannot be opened.
// NotAFile: a folder, a device, a pipe, or a link to none of them.
enum class TzOptionsRead { Missing, Valid, ForeignRoot, Malformed, Unreadable, NotAFile };
enum class TzOptionsWrite { Saved, ForeignRoot, Failed };

// aReason receives, for a file that is there but not read, why (Russian, without the file's name).
TzOptionsRead ReadOptions(const QString &aFileName, TzStoredOptions &aOptions, QString *aReason = nullptr);
TzOptionsWrite WriteOptions(const QString &aFileName, const TzOptionsToSave &aOptions, QString *aError);

// Valid only when the file has an `http` element.
TzOptionsRead ReadHttpOptions(const QString &aFileName, TzStoredHttpOptions &aOptions);
TzOptionsWrite WriteHttpOptions(const QString &aFileName, const TzHttpOptions &aOptions, QString *aError);
