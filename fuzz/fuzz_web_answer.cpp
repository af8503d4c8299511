// Feeds arbitrary answer bodies (decoded as UTF-8, as the bridge does) to the reader of the web
// service's requested output states, whole and as cut at the size limit. Traps when an output
// outside 1..20 is requested, when the cut answer yields anything but the whole one's states
// or all but its last, or when the states read, written back as an answer (with a separator
// form and a trailing separator or not, as the input falls), do not read back the same.

#include "FuzzCheck.h"

#include "web/uWebService.h"

#include <QStringList>

#include <cstdint>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    const QString answer = QString::fromUtf8(reinterpret_cast<const char *>(aData), qsizetype(aSize));
    const QList<TzRemoteOutput> whole = ParseRemoteOutputs(answer);
    const QList<TzRemoteOutput> cut = ParseRemoteOutputs(answer, true);

    for (const TzRemoteOutput &output : whole)
        FUZZ_REQUIRE(output.Index >= 1 && output.Index <= 20);
    // Cutting the answer can only lose its last line.
    FUZZ_REQUIRE(cut.size() <= whole.size());
    FUZZ_REQUIRE(whole.mid(0, cut.size()) == cut);
    FUZZ_REQUIRE(whole.size() - cut.size() <= 1);

    // The states as a service would send them read back the same, with any separator form.
    QStringList lines;
    for (const TzRemoteOutput &output : whole)
        lines << QStringLiteral("%1 %2").arg(output.Index).arg(output.On ? 1 : 0);
    static const QString Separators[] = {QStringLiteral("<br>"), QStringLiteral("<BR>\r\n"), QStringLiteral("\n"),
                                         QStringLiteral("<bR>\n")};
    const QString &separator = Separators[aSize % std::size(Separators)];
    const QString rendered = lines.join(separator) + (aSize % 8 < 4 ? separator : QString());
    FUZZ_REQUIRE(ParseRemoteOutputs(rendered) == whole);
    return 0;
}
