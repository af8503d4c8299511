#include "app/uApplication.h"

#include <QDebug>

#include <exception>

namespace {
TzExceptionHandler &ExceptionHandler()
{
    static TzExceptionHandler handler;
    return handler;
}
} // namespace

TzApplication::TzApplication(int &argc, char **argv) : QApplication(argc, argv)
{
}

bool TzApplication::notify(QObject *aReceiver, QEvent *aEvent)
{
    try {
        return QApplication::notify(aReceiver, aEvent);
    } catch (const std::exception &error) {
        HandleAppException(aReceiver, QString::fromUtf8(error.what()));
    } catch (...) {
        HandleAppException(aReceiver, QStringLiteral("неизвестная ошибка"));
    }
    return false;
}

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
