#include "VelorCommonUtils/PathUtils.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

QChar NativePathSeparator()
{
#ifdef Q_OS_WIN
    return u'\\';
#else
    return u'/';
#endif
}

QString WithTrailingSeparator(const QString &aPath, QChar aSeparator)
{
    return aPath.endsWith(aSeparator) ? aPath : aPath + aSeparator;
}

QString CombinePath(const QString &aBase, const QString &aPath, QChar aSeparator)
{
    if (aPath.isEmpty())
        return aBase;
    const QString twoSeparators(2, aSeparator);
    const bool pathIsAbsolute = (aPath.size() >= 2 && aPath[1] == u':') || aPath.startsWith(twoSeparators)
                                || (aSeparator == u'/' && aPath.startsWith(aSeparator));
    if (pathIsAbsolute)
        return aPath;

    QStringList kept = aBase.split(aSeparator, Qt::SkipEmptyParts);
    // The parts of the base that ".." never removes: the drive, or the server and share of a UNC
    // path. A POSIX root has no part of its own; an empty list simply stays empty.
    qsizetype floor = 0;
    if (aBase.size() >= 2 && aBase[1] == u':')
        floor = 1;
    else if (aBase.startsWith(twoSeparators))
        floor = std::min<qsizetype>(2, kept.size());

    for (const QString &part : aPath.split(aSeparator, Qt::SkipEmptyParts)) {
        if (part == QStringLiteral("."))
            continue;
        if (part == QStringLiteral("..")) {
            if (kept.size() > floor)
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }

    QString result;
    for (const QString &part : kept)
        result += part + aSeparator;
    if (!aPath.endsWith(aSeparator) && result.endsWith(aSeparator))
        result.chop(1);
    if (aBase.startsWith(aSeparator))
        result.prepend(aSeparator);
    // A UNC base keeps both of its leading separators; a relative "A\B" stays relative.
    if (aBase.startsWith(twoSeparators))
        result.prepend(aSeparator);
    return result;
}

QString CombinePath(const QString &aBase, const QString &aPath)
{
    return CombinePath(aBase, aPath, NativePathSeparator());
}

QString ExpandEnvironment(const QString &aText)
{
    static const QRegularExpression variable(
        QStringLiteral(R"(%([A-Za-z_][A-Za-z0-9_()]*)%|\$\{([A-Za-z_][A-Za-z0-9_]*)\}|\$([A-Za-z_][A-Za-z0-9_]*))"));
    QString result;
    qsizetype from = 0;
    auto match = variable.globalMatch(aText);
    while (match.hasNext()) {
        const QRegularExpressionMatch found = match.next();
        result += aText.mid(from, found.capturedStart() - from);
        QString name;
        for (int group = 1; group <= 3 && name.isEmpty(); ++group)
            name = found.captured(group);
        const QByteArray value = qgetenv(name.toLocal8Bit().constData());
        if (qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
            result += QString::fromLocal8Bit(value);
        else
            result += found.captured(0);
        from = found.capturedEnd();
    }
    result += aText.mid(from);
    return result;
}

QString UserConfigHome()
{
    const QChar separator = NativePathSeparator();
#ifdef Q_OS_WIN
    const QString appData = qEnvironmentVariable("APPDATA");
    if (!appData.isEmpty())
        return WithTrailingSeparator(QDir::toNativeSeparators(appData), separator);
    return WithTrailingSeparator(QDir::toNativeSeparators(QDir::homePath()), separator);
#else
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (configHome.startsWith(separator))
        return WithTrailingSeparator(configHome, separator);
    return WithTrailingSeparator(QDir::homePath(), separator) + QStringLiteral(".config/");
#endif
}
