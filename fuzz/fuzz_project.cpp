// Feeds arbitrary files to the project loader, written to a temporary folder as
// DefaultProject.xml. A file that loads is saved with the descriptions found in it (empty where
// it had none) and must load back to exactly those twenty descriptions, and read the same from
// one save to the next. A file that does not load yields no description, and is then replaced,
// as the panel's next save does, by descriptions an operator might have typed or pasted (the
// input's bytes as UTF-16, any code unit at all): they must load back as typed, less the
// characters XML cannot carry.

#include "FuzzCheck.h"
#include "FuzzFiles.h"

#include "panel/uProjectFile.h"

#include <cstdint>
#include <cstring>

namespace {

// The text as XML 1.0 can carry it: without control characters (tab and line breaks aside),
// U+FFFE, U+FFFF and surrogates that are not paired.
QString Storable(const QString &aText)
{
    QString result;
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const char16_t c = aText[i].unicode();
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < aText.size() && aText[i + 1].unicode() >= 0xDC00 && aText[i + 1].unicode() <= 0xDFFF) {
            result += aText[i];
            result += aText[++i];
        } else if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c < 0xD800) || (c >= 0xE000 && c <= 0xFFFD)) {
            result += aText[i];
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    static const QString fileName = FuzzFolder() + QStringLiteral("/DefaultProject.xml");
    WriteFuzzFile(fileName, aData, aSize);

    TzStoredHints stored;
    TzProjectHints hints;
    QString error;
    if (!ReadProjectFile(fileName, stored)) {
        for (const auto &hint : stored)
            FUZZ_REQUIRE(!hint);
        // Twenty typed descriptions cut from the input.
        QString typed(qsizetype(aSize / 2), Qt::Uninitialized);
        std::memcpy(typed.data(), aData, aSize / 2 * 2);
        for (size_t i = 0; i < hints.size(); ++i)
            hints[i] = typed.mid(qsizetype(i * typed.size() / hints.size()), qsizetype(typed.size() / hints.size() + 1));
        FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
        TzStoredHints reread;
        FUZZ_REQUIRE(ReadProjectFile(fileName, reread));
        for (size_t i = 0; i < hints.size(); ++i)
            FUZZ_REQUIRE(reread[i] && *reread[i] == Storable(hints[i]));
        return 0;
    }
    for (size_t i = 0; i < hints.size(); ++i)
        hints[i] = stored[i].value_or(QString());
    FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
    TzStoredHints reread;
    FUZZ_REQUIRE(ReadProjectFile(fileName, reread));
    for (size_t i = 0; i < hints.size(); ++i)
        FUZZ_REQUIRE(reread[i] && *reread[i] == hints[i]);

    const QByteArray first = ReadFuzzFile(fileName);
    FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
    FUZZ_REQUIRE(ReadFuzzFile(fileName) == first);
    return 0;
}
