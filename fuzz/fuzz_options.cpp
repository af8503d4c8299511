// Feeds arbitrary files to the options loader, written to a temporary folder as Options.xml.
// A file that does not parse, is beyond the readers' bounds (nesting), or has another root, is
// never written to. A file that loads has
// one of its parts (the panel's settings or the web bridge's) saved with the values found in it,
// defaults where it had none: that part must load back to exactly the values saved, the other
// part and an Ethernet element that the save leaves alone must keep their values, and the file
// must read the same from one save to the next. Part of the saves carry a port name typed by
// an operator, any text at all.

#include "FuzzCheck.h"
#include "FuzzFiles.h"

#include "settings/uOptionsFile.h"

#include <cstdint>

namespace {

bool SameEthernet(const TzStoredOptions &a, const TzStoredOptions &b)
{
    return a.HasEthernet == b.HasEthernet && a.EthernetActive == b.EthernetActive && a.EthernetHost == b.EthernetHost
           && a.EthernetPort == b.EthernetPort && a.EthernetTimeout == b.EthernetTimeout
           && a.EthernetAddr == b.EthernetAddr && a.EthernetFormat == b.EthernetFormat;
}

bool SameOptions(const TzStoredOptions &a, const TzStoredOptions &b)
{
    return a.HasComport == b.HasComport && a.Indx == b.Indx && a.Name == b.Name && a.Addr == b.Addr
           && a.BaudRate == b.BaudRate && a.Format == b.Format && a.Timeout == b.Timeout && a.AnswerEnd == b.AnswerEnd
           && SameEthernet(a, b) && a.HasAutorun == b.HasAutorun && a.AutorunMini == b.AutorunMini
           && a.Autostart == b.Autostart && a.DelayOn == b.DelayOn && a.DelayValue == b.DelayValue
           && a.StyleIndex == b.StyleIndex;
}

bool SameHttp(const TzStoredHttpOptions &a, const TzStoredHttpOptions &b)
{
    return a.HasProxy == b.HasProxy && a.Enabled == b.Enabled && a.Basic == b.Basic && a.Port == b.Port
           && a.Server == b.Server && a.User == b.User && a.Pass == b.Pass && a.Key == b.Key && a.Base == b.Base;
}

// What the panel would save after loading these values.
TzOptionsToSave ToSave(const TzStoredOptions &aStored)
{
    TzOptionsToSave options;
    options.Indx = aStored.Indx.value_or(0);
    options.Name = aStored.Name.value_or(QString());
    options.Addr = QString::number(aStored.Addr.value_or(16));
    options.BaudRate = aStored.BaudRate.value_or(3);
    options.Format = aStored.Format.value_or(0);
    options.Timeout = QString::number(aStored.Timeout.value_or(500));
    options.AnswerEnd = AnswerEndOf(aStored.AnswerEnd.value_or(QString()));
    options.EthernetValid = aStored.EthernetHost && aStored.EthernetPort && aStored.EthernetTimeout;
    if (options.EthernetValid) {
        options.EthernetActive = aStored.EthernetActive.value_or(0) != 0;
        options.EthernetHost = *aStored.EthernetHost;
        options.EthernetPort = *aStored.EthernetPort;
        options.EthernetTimeout = *aStored.EthernetTimeout;
        options.EthernetAddr = QString::number(aStored.EthernetAddr.value_or(16));
        options.EthernetFormat = aStored.EthernetFormat.value_or(0);
    }
    options.AutorunMini = aStored.AutorunMini.value_or(0) != 0;
    options.Autostart = aStored.Autostart.value_or(0) != 0;
    options.DelayOn = aStored.DelayOn.value_or(0) != 0;
    options.DelayValue = aStored.DelayValue.value_or(10);
    options.StyleIndex = aStored.StyleIndex.value_or(0);
    return options;
}

TzHttpOptions ToSave(const TzStoredHttpOptions &aStored)
{
    TzHttpOptions options;
    options.ProxyEnabled = aStored.Enabled.value_or(0) != 0;
    options.ProxyBasic = aStored.Basic.value_or(0) != 0;
    options.Server = aStored.Server.value_or(QString());
    options.Port = aStored.Port ? QString::number(*aStored.Port) : QString();
    options.User = aStored.User.value_or(QString());
    options.Pass = aStored.Pass.value_or(QString());
    options.Key = aStored.Key.value_or(QString());
    options.Base = aStored.Base;
    return options;
}

// The values a save of aSaved must read back as.
void CheckSaved(const TzStoredOptions &aRead, const TzOptionsToSave &aSaved, const TzStoredOptions &aBefore)
{
    FUZZ_REQUIRE(aRead.HasComport && aRead.HasAutorun);
    FUZZ_REQUIRE(aRead.Indx == aSaved.Indx && aRead.Name == aSaved.Name);
    FUZZ_REQUIRE(aRead.Addr == aSaved.Addr.toInt() && aRead.Timeout == aSaved.Timeout.toInt());
    FUZZ_REQUIRE(aRead.BaudRate == aSaved.BaudRate && aRead.Format == aSaved.Format);
    FUZZ_REQUIRE(aRead.AnswerEnd == AnswerEndText(aSaved.AnswerEnd));
    if (aSaved.EthernetValid) {
        FUZZ_REQUIRE(aRead.HasEthernet && aRead.EthernetActive == int(aSaved.EthernetActive));
        FUZZ_REQUIRE(aRead.EthernetHost == aSaved.EthernetHost && aRead.EthernetPort == aSaved.EthernetPort);
        FUZZ_REQUIRE(aRead.EthernetTimeout == aSaved.EthernetTimeout);
        FUZZ_REQUIRE(aRead.EthernetAddr == aSaved.EthernetAddr.toInt());
        FUZZ_REQUIRE(aRead.EthernetFormat == aSaved.EthernetFormat);
    } else {
        // The element is there after a save, and keeps what it held.
        TzStoredOptions expected = aBefore;
        expected.HasEthernet = true;
        FUZZ_REQUIRE(SameEthernet(aRead, expected));
    }
    FUZZ_REQUIRE(aRead.AutorunMini == int(aSaved.AutorunMini) && aRead.Autostart == int(aSaved.Autostart));
    FUZZ_REQUIRE(aRead.DelayOn == int(aSaved.DelayOn) && aRead.DelayValue == aSaved.DelayValue);
    FUZZ_REQUIRE(aRead.StyleIndex == aSaved.StyleIndex);
}

void CheckSaved(const TzStoredHttpOptions &aRead, const TzHttpOptions &aSaved)
{
    FUZZ_REQUIRE(aRead.HasProxy);
    FUZZ_REQUIRE(aRead.Enabled == int(aSaved.ProxyEnabled) && aRead.Basic == int(aSaved.ProxyBasic));
    FUZZ_REQUIRE(aRead.Server == aSaved.Server && aRead.User == aSaved.User && aRead.Pass == aSaved.Pass);
    FUZZ_REQUIRE(aSaved.Port.isEmpty() ? !aRead.Port : aRead.Port == aSaved.Port.toInt());
    FUZZ_REQUIRE(aRead.Key == aSaved.Key && aRead.Base == aSaved.Base);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *aData, size_t aSize)
{
    static const QString fileName = FuzzFolder() + QStringLiteral("/Options.xml");
    WriteFuzzFile(fileName, aData, aSize);

    TzStoredOptions options;
    TzStoredHttpOptions http;
    const TzOptionsRead state = ReadOptions(fileName, options);
    const TzOptionsRead httpState = ReadHttpOptions(fileName, http);
    FUZZ_REQUIRE(state != TzOptionsRead::Missing);
    if (state != TzOptionsRead::Valid) {
        // Not ours, or not readable as XML: no save may touch it. Both saves open the file alike;
        // one of them, chosen by the input, is tried.
        FUZZ_REQUIRE(httpState == state);
        const TzOptionsWrite expected = state == TzOptionsRead::ForeignRoot ? TzOptionsWrite::ForeignRoot
                                                                            : TzOptionsWrite::Failed;
        const TzOptionsWrite written = aSize % 2 ? WriteOptions(fileName, ToSave(options), nullptr)
                                                 : WriteHttpOptions(fileName, ToSave(http), nullptr);
        FUZZ_REQUIRE(written == expected);
        const QByteArray after = ReadFuzzFile(fileName);
        FUZZ_REQUIRE(after == QByteArray::fromRawData(reinterpret_cast<const char *>(aData), qsizetype(aSize)));
        return 0;
    }

    // One part saved with the values found, the panel's or the web bridge's as the input falls:
    // it reads back as saved, and the other part keeps exactly what it held.
    TzStoredOptions reread;
    TzStoredHttpOptions httpReread;
    if (aSize % 2) {
        TzOptionsToSave saved = ToSave(options);
        // For a part of the inputs the port name is one an operator typed (the input as UTF-16):
        // it reads back less what XML cannot carry.
        const bool typed = aSize % 4 == 1;
        if (typed)
            saved.Name = TypedText(aData, aSize).left(64);
        FUZZ_REQUIRE(WriteOptions(fileName, saved, nullptr) == TzOptionsWrite::Saved);
        FUZZ_REQUIRE(ReadOptions(fileName, reread) == TzOptionsRead::Valid);
        FUZZ_REQUIRE(ReadHttpOptions(fileName, httpReread) == httpState);
        if (typed) {
            FUZZ_REQUIRE(reread.Name == XmlStorable(saved.Name));
            saved.Name = *reread.Name;
        }
        CheckSaved(reread, saved, options);
        FUZZ_REQUIRE(SameHttp(httpReread, http));
        // Saving the same again gives the same file (for a part of the inputs: a save is the
        // dearest step here).
        if (aSize % 8 == 3) {
            const QByteArray first = ReadFuzzFile(fileName);
            FUZZ_REQUIRE(WriteOptions(fileName, saved, nullptr) == TzOptionsWrite::Saved);
            FUZZ_REQUIRE(ReadFuzzFile(fileName) == first);
        }
    } else {
        const TzHttpOptions saved = ToSave(http);
        FUZZ_REQUIRE(WriteHttpOptions(fileName, saved, nullptr) == TzOptionsWrite::Saved);
        FUZZ_REQUIRE(ReadOptions(fileName, reread) == TzOptionsRead::Valid);
        FUZZ_REQUIRE(ReadHttpOptions(fileName, httpReread) == TzOptionsRead::Valid);
        CheckSaved(httpReread, saved);
        FUZZ_REQUIRE(SameOptions(reread, options));
    }
    return 0;
}
