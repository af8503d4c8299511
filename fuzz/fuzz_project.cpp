// Feeds arbitrary files to the project loader, written to a temporary folder as
// DefaultProject.xml. A file that loads is saved with the descriptions found in it (empty where
// it had none) and must load back to exactly those twenty descriptions; a part of them is saved
// again and must read the same. A file that does not load yields no description unless it is
// damaged part way (then what came whole before the damage), and is then replaced, as the panel's
// next save does, by descriptions an operator might have typed or pasted (the input's bytes as
// UTF-16, any code unit at all): they must load back as typed, less the characters XML cannot
// carry.

#include "FuzzCheck.h"
#include "FuzzFiles.h"

#include "panel/uProjectFile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    static const QString fileName = FuzzFolder() + QStringLiteral("/DefaultProject.xml");
    WriteFuzzFile(fileName, aData, aSize);

    TzStoredHints stored;
    TzProjectHints hints;
    QString error;
    const TzProjectRead state = ReadProject(fileName, stored);
    FUZZ_REQUIRE(state != TzProjectRead::Missing && state != TzProjectRead::NotAFile);
    if (state != TzProjectRead::Valid) {
        if (state != TzProjectRead::Damaged)
            for (const auto &hint : stored)
                FUZZ_REQUIRE(!hint);
        // Twenty typed descriptions cut from the input.
        const QString typed = TypedText(aData, aSize);
        for (size_t i = 0; i < hints.size(); ++i)
            hints[i] = typed.mid(qsizetype(i * typed.size() / hints.size()),
                                 qsizetype(typed.size() / hints.size() + 1));
        FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
        TzStoredHints reread;
        FUZZ_REQUIRE(ReadProjectFile(fileName, reread));
        for (size_t i = 0; i < hints.size(); ++i)
            FUZZ_REQUIRE(reread[i] && *reread[i] == XmlStorable(hints[i]));
        return 0;
    }
    for (size_t i = 0; i < hints.size(); ++i)
        hints[i] = stored[i].value_or(QString());
    FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
    TzStoredHints reread;
    FUZZ_REQUIRE(ReadProjectFile(fileName, reread));
    for (size_t i = 0; i < hints.size(); ++i)
        FUZZ_REQUIRE(reread[i] && *reread[i] == hints[i]);

    // Saving the same again gives the same file (for a part of the inputs: a save is the dearest
    // step here).
    if (aSize % 4 == 1) {
        const QByteArray first = ReadFuzzFile(fileName);
        FUZZ_REQUIRE(WriteProjectFile(fileName, hints, &error));
        FUZZ_REQUIRE(ReadFuzzFile(fileName) == first);
    }
    return 0;
}
