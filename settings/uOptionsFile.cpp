#include "settings/uOptionsFile.h"

#include "common/uSafeSave.h"
#include "common/uUtils.h"
#include "settings/uXmlSettings.h"

#include <QDomDocument>

namespace {

const QString RootName = QStringLiteral("options");

const QStringList AttributeOrder{
    QStringLiteral("comport:indx,addr,baudrate,format,timeout,name,answerend"),
    QStringLiteral("ethernet:active,host,port,timeout,addr,format"),
    QStringLiteral("autorun:mini,autostart,delay_on,delay_value"),
    QStringLiteral("style:index"),
    QStringLiteral("http:base"),
    QStringLiteral("proxy:enabled,basic,server,port,user,pass"),
    QStringLiteral("auth:key"),
};

std::optional<int> IntAttr(const QDomElement &aElement, const QString &aName)
{
    int value = 0;
    if (XmlAttrToInt(aElement, aName, value))
        return value;
    return std::nullopt;
}

std::optional<QString> StrAttr(const QDomElement &aElement, const QString &aName)
{
    QString value;
    if (XmlAttrToStr(aElement, aName, value))
        return value;
    return std::nullopt;
}

QString Flag(bool aSet)
{
    return aSet ? QStringLiteral("1") : QStringLiteral("0");
}

// The elements the panel writes, each on a line of its own; whatever else the file holds is
// written as it was read.
const QStringList OwnElements{
    QStringLiteral("options"),
    QStringLiteral("options/comport"),
    QStringLiteral("options/ethernet"),
    QStringLiteral("options/autorun"),
    QStringLiteral("options/style"),
    QStringLiteral("options/http"),
    QStringLiteral("options/http/proxy"),
    QStringLiteral("options/http/auth"),
};

// Opens the file for a save: a new document when there is none; nothing when it cannot be read
// or belongs to something else.
TzOptionsWrite OpenForSave(const QString &aFileName, QDomDocument &aDocument, QString *aError)
{
    QString reason;
    const TzXmlFileState state = ReadXmlFile(aFileName, aDocument, &reason);
    if (aError && !reason.isEmpty())
        *aError = QStringLiteral("%1: %2").arg(QuotedPath(aFileName), reason);
    switch (state) {
    case TzXmlFileState::Missing:
        aDocument = QDomDocument();
        aDocument.appendChild(aDocument.createElement(RootName));
        return TzOptionsWrite::Saved;
    case TzXmlFileState::Valid:
        return aDocument.documentElement().tagName() == RootName ? TzOptionsWrite::Saved : TzOptionsWrite::ForeignRoot;
    case TzXmlFileState::Malformed:
    case TzXmlFileState::Unreadable:
    case TzXmlFileState::NotAFile: break;
    }
    return TzOptionsWrite::Failed;
}

TzOptionsWrite Store(const QString &aFileName, const QDomDocument &aDocument, QString *aError)
{
    // The file holds the proxy password: only its owner may read it.
    return SaveFileReplacing(aFileName, XmlText(aDocument, AttributeOrder, OwnElements), TzFileAccess::OwnerOnly,
                             aError)
               ? TzOptionsWrite::Saved
               : TzOptionsWrite::Failed;
}

TzOptionsRead OpenForRead(const QString &aFileName, QDomDocument &aDocument, QString *aReason = nullptr)
{
    switch (ReadXmlFile(aFileName, aDocument, aReason)) {
    case TzXmlFileState::Missing: return TzOptionsRead::Missing;
    case TzXmlFileState::Valid:
        if (aDocument.documentElement().tagName() == RootName)
            return TzOptionsRead::Valid;
        if (aReason)
            *aReason = QStringLiteral("корневой элемент не «options»");
        return TzOptionsRead::ForeignRoot;
    case TzXmlFileState::Unreadable: return TzOptionsRead::Unreadable;
    case TzXmlFileState::NotAFile: return TzOptionsRead::NotAFile;
    case TzXmlFileState::Malformed: break;
    }
    return TzOptionsRead::Malformed;
}

} // namespace

QString AnswerEndText(TzAnswerEnd aEnd)
{
    return aEnd == TzAnswerEnd::Gap ? QStringLiteral("gap") : QStringLiteral("length");
}

TzAnswerEnd AnswerEndOf(const QString &aText)
{
    return aText == QStringLiteral("gap") ? TzAnswerEnd::Gap : TzAnswerEnd::Length;
}

TzOptionsRead ReadOptions(const QString &aFileName, TzStoredOptions &aOptions, QString *aReason)
{
    aOptions = TzStoredOptions{};
    QDomDocument document;
    const TzOptionsRead state = OpenForRead(aFileName, document, aReason);
    if (state != TzOptionsRead::Valid)
        return state;
    const QDomElement root = document.documentElement();

    const QDomElement comport = root.firstChildElement(QStringLiteral("comport"));
    aOptions.HasComport = !comport.isNull();
    aOptions.Indx = IntAttr(comport, QStringLiteral("indx"));
    aOptions.Name = StrAttr(comport, QStringLiteral("name"));
    aOptions.Addr = IntAttr(comport, QStringLiteral("addr"));
    aOptions.BaudRate = IntAttr(comport, QStringLiteral("baudrate"));
    aOptions.Format = IntAttr(comport, QStringLiteral("format"));
    aOptions.Timeout = IntAttr(comport, QStringLiteral("timeout"));
    aOptions.AnswerEnd = StrAttr(comport, QStringLiteral("answerend"));

    const QDomElement ethernet = root.firstChildElement(QStringLiteral("ethernet"));
    aOptions.HasEthernet = !ethernet.isNull();
    aOptions.EthernetActive = IntAttr(ethernet, QStringLiteral("active"));
    aOptions.EthernetHost = StrAttr(ethernet, QStringLiteral("host"));
    aOptions.EthernetPort = IntAttr(ethernet, QStringLiteral("port"));
    aOptions.EthernetTimeout = IntAttr(ethernet, QStringLiteral("timeout"));
    aOptions.EthernetAddr = IntAttr(ethernet, QStringLiteral("addr"));
    aOptions.EthernetFormat = IntAttr(ethernet, QStringLiteral("format"));

    const QDomElement autorun = root.firstChildElement(QStringLiteral("autorun"));
    aOptions.HasAutorun = !autorun.isNull();
    aOptions.AutorunMini = IntAttr(autorun, QStringLiteral("mini"));
    aOptions.Autostart = IntAttr(autorun, QStringLiteral("autostart"));
    aOptions.DelayOn = IntAttr(autorun, QStringLiteral("delay_on"));
    aOptions.DelayValue = IntAttr(autorun, QStringLiteral("delay_value"));

    aOptions.StyleIndex = IntAttr(root.firstChildElement(QStringLiteral("style")), QStringLiteral("index"));
    return TzOptionsRead::Valid;
}

TzOptionsWrite WriteOptions(const QString &aFileName, const TzOptionsToSave &aOptions, QString *aError)
{
    QDomDocument document;
    const TzOptionsWrite opened = OpenForSave(aFileName, document, aError);
    if (opened != TzOptionsWrite::Saved)
        return opened;
    QDomElement root = document.documentElement();

    QDomElement comport = ChildElement(root, QStringLiteral("comport"), true);
    comport.setAttribute(QStringLiteral("indx"), aOptions.Indx);
    comport.setAttribute(QStringLiteral("addr"), aOptions.Addr);
    comport.setAttribute(QStringLiteral("baudrate"), aOptions.BaudRate);
    comport.setAttribute(QStringLiteral("format"), aOptions.Format);
    comport.setAttribute(QStringLiteral("timeout"), aOptions.Timeout);
    comport.setAttribute(QStringLiteral("name"), aOptions.Name);
    comport.setAttribute(QStringLiteral("answerend"), AnswerEndText(aOptions.AnswerEnd));

    QDomElement ethernet = ChildElement(root, QStringLiteral("ethernet"), true);
    if (aOptions.EthernetValid) {
        ethernet.setAttribute(QStringLiteral("active"), Flag(aOptions.EthernetActive));
        ethernet.setAttribute(QStringLiteral("host"), aOptions.EthernetHost);
        ethernet.setAttribute(QStringLiteral("port"), aOptions.EthernetPort);
        ethernet.setAttribute(QStringLiteral("timeout"), aOptions.EthernetTimeout);
        ethernet.setAttribute(QStringLiteral("addr"), aOptions.EthernetAddr);
        ethernet.setAttribute(QStringLiteral("format"), aOptions.EthernetFormat);
    }

    QDomElement autorun = ChildElement(root, QStringLiteral("autorun"), true);
    autorun.setAttribute(QStringLiteral("mini"), Flag(aOptions.AutorunMini));
    autorun.setAttribute(QStringLiteral("autostart"), Flag(aOptions.Autostart));
    autorun.setAttribute(QStringLiteral("delay_on"), Flag(aOptions.DelayOn));
    autorun.setAttribute(QStringLiteral("delay_value"), aOptions.DelayValue);

    ChildElement(root, QStringLiteral("style"), true).setAttribute(QStringLiteral("index"), aOptions.StyleIndex);
    return Store(aFileName, document, aError);
}

TzOptionsRead ReadHttpOptions(const QString &aFileName, TzStoredHttpOptions &aOptions)
{
    aOptions = TzStoredHttpOptions{};
    QDomDocument document;
    const TzOptionsRead state = OpenForRead(aFileName, document);
    if (state != TzOptionsRead::Valid)
        return state;
    const QDomElement http = document.documentElement().firstChildElement(QStringLiteral("http"));
    if (http.isNull())
        return TzOptionsRead::Missing;
    aOptions.Base = StrAttr(http, QStringLiteral("base"));
    const QDomElement proxy = http.firstChildElement(QStringLiteral("proxy"));
    aOptions.HasProxy = !proxy.isNull();
    aOptions.Enabled = IntAttr(proxy, QStringLiteral("enabled"));
    aOptions.Basic = IntAttr(proxy, QStringLiteral("basic"));
    aOptions.Server = StrAttr(proxy, QStringLiteral("server"));
    aOptions.Port = IntAttr(proxy, QStringLiteral("port"));
    aOptions.User = StrAttr(proxy, QStringLiteral("user"));
    aOptions.Pass = StrAttr(proxy, QStringLiteral("pass"));
    aOptions.Key = StrAttr(http.firstChildElement(QStringLiteral("auth")), QStringLiteral("key"));
    return TzOptionsRead::Valid;
}

TzOptionsWrite WriteHttpOptions(const QString &aFileName, const TzHttpOptions &aOptions, QString *aError)
{
    QDomDocument document;
    const TzOptionsWrite opened = OpenForSave(aFileName, document, aError);
    if (opened != TzOptionsWrite::Saved)
        return opened;
    QDomElement http = ChildElement(document.documentElement(), QStringLiteral("http"), true);
    if (aOptions.Base)
        http.setAttribute(QStringLiteral("base"), *aOptions.Base);

    QDomElement proxy = ChildElement(http, QStringLiteral("proxy"), true);
    proxy.setAttribute(QStringLiteral("enabled"), Flag(aOptions.ProxyEnabled));
    proxy.setAttribute(QStringLiteral("basic"), Flag(aOptions.ProxyBasic));
    proxy.setAttribute(QStringLiteral("server"), aOptions.Server);
    proxy.setAttribute(QStringLiteral("port"), aOptions.Port);
    proxy.setAttribute(QStringLiteral("user"), aOptions.User);
    proxy.setAttribute(QStringLiteral("pass"), aOptions.Pass);

    ChildElement(http, QStringLiteral("auth"), true).setAttribute(QStringLiteral("key"), aOptions.Key);
    return Store(aFileName, document, aError);
}
