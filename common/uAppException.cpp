#include "common/uAppException.h"

#include <QDebug>

namespace {
TzExceptionHandler &ExceptionHandler()
{
    static TzExceptionHandler handler;
    return handler;
}
} // namespace

void SetAppExceptionHandler(TzExceptionHandler aHandler)
{
    ExceptionHandler() = std::move(aHandler);
}

void HandleAppException(QObject *aSender, const QString &aMessage)
{
    if (ExceptionHandler())
        ExceptionHandler()(aSender, aMessage);
    else
        qWarning().noquote() << "Ошибка:" << aMessage;
}
