#pragma once
// The application object: an exception that escapes any event handler is handed to the installed
// handler (the panel writes it to the log) instead of ending the program.

#include <QApplication>

#include <functional>

using TzExceptionHandler = std::function<void(QObject *aSender, const QString &aMessage)>;

class TzApplication : public QApplication
{
public:
    TzApplication(int &argc, char **argv);
    bool notify(QObject *aReceiver, QEvent *aEvent) override;
};

// The handler of exceptions that reach the event loop; the last one installed wins.
void SetAppExceptionHandler(TzExceptionHandler aHandler);
// Runs the installed handler; without one the message goes to the debug output.
void HandleAppException(QObject *aSender, const QString &aMessage);
