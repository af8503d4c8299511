#include "app/uApplication.h"

#include <exception>

TzApplication::TzApplication(int &argc, char **argv) : QApplication(argc, argv) {}

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
