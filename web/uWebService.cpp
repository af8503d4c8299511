#include "web/uWebService.h"

#include "common/uUtils.h"

#include <QUrl>

namespace {

// "<br>" in any case, with one line break right after it, becomes a single "\n".
QString BreakTagsAsNewlines(const QString &aText)
{
    static const QString BreakTag = QStringLiteral("<br>");
    qsizetype at = aText.indexOf(BreakTag, 0, Qt::CaseInsensitive);
    if (at < 0)
        return aText;
    QString result;
    result.reserve(aText.size());
    qsizetype from = 0;
    while (at >= 0) {
        result += QStringView(aText).sliced(from, at - from);
        result += u'\n';
        from = at + BreakTag.size();
        if (QStringView(aText).mid(from, 2) == u"\r\n")
            from += 2;
        else if (from < aText.size() && (aText[from] == u'\r' || aText[from] == u'\n'))
            ++from;
        at = aText.indexOf(BreakTag, from, Qt::CaseInsensitive);
    }
    result += QStringView(aText).sliced(from);
    return result;
}

} // namespace

QString NormalizedServiceBase(const QString &aBase)
{
    QString base = aBase.trimmed();
    if (base.isEmpty())
        base = QString::fromLatin1(DefaultServiceBase);
    if (!base.endsWith(u'/'))
        base += u'/';
    return base;
}

QString ServiceAddress(const QString &aBase, const QString &aEndpoint,
                       const QList<QPair<QString, QString>> &aParameters)
{
    QString address = aBase + aEndpoint;
    QChar separator = u'?';
    for (const auto &[name, value] : aParameters) {
        address += separator + name + u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value));
        separator = u'&';
    }
    return address;
}

QList<TzRemoteOutput> ParseRemoteOutputs(const QString &aAnswer, bool aCut)
{
    QList<TzRemoteOutput> outputs;
    // Blanks and line breaks around the answer mean nothing (services often end with a newline).
    QString text = aAnswer.trimmed();
    if (text.isEmpty())
        return outputs;
    // A line break right after "<br>" belongs to it ("<br>\n" ends one line, as services that
    // print line by line write it); it does not add an empty line that would end the answer.
    text = BreakTagsAsNewlines(text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    QStringList lines = text.split(u'\n');
    // A trailing separator ends the last line; it does not start an empty one.
    if (lines.size() > 1 && lines.back().isEmpty())
        lines.removeLast();
    if (aCut && !lines.isEmpty())
        lines.removeLast();
    for (const QString &line : std::as_const(lines)) {
        const QStringList words = line.split(u' ');
        if (words.size() < 2)
            break;
        int index = 0;
        int state = 0;
        if (!TryStrToInt(words[0], index) || !TryStrToInt(words[1], state))
            break;
        if (index >= 1 && index <= 20)
            outputs.append({index, state != 0});
    }
    return outputs;
}
