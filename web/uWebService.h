#pragma once
// The web service of the remote bridge, without widgets: its base address, the addresses of its
// pages, and the reading of its answer with the requested output states.

#include <QList>
#include <QPair>
#include <QString>

// The service the panel talks to unless told otherwise.
inline constexpr const char *DefaultServiceBase = "https://nano.corvana.ru/quadrel/";

// A base address as requests use it: trimmed and ending with "/"; the default when empty.
QString NormalizedServiceBase(const QString &aBase);

// aBase + aEndpoint + "?" and the parameters, each value percent-encoded as UTF-8, so that any
// identifier or key reaches the service exactly as typed.
QString ServiceAddress(const QString &aBase, const QString &aEndpoint,
                       const QList<QPair<QString, QString>> &aParameters);

struct TzRemoteOutput
{
    int Index = 0;
    bool On = false;
    bool operator==(const TzRemoteOutput &) const = default;
};

// The requested states of an answer of discret_outputs.php, in order. Lines are separated by
// "<br>" in any letter case (a line break right after it included), or by line breaks; a line is
// the output number and the state in decimal, separated by one space, further words ignored; a
// state other than 0 means closed. The first line with fewer than two words or a word that is
// not an integer ends the answer; lines naming outputs outside 1..20 are skipped. When the
// answer was cut at the size limit, its last line may be a fragment and is not used.
QList<TzRemoteOutput> ParseRemoteOutputs(const QString &aAnswer, bool aCut = false);
