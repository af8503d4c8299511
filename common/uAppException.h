#pragma once
// Where an exception that escapes an event handler goes: the application object catches it and
// hands it to the installed handler (the panel writes it to the log) instead of ending the program.

#include <QString>

#include <functional>

class QObject;

using TzExceptionHandler = std::function<void(QObject *aSender, const QString &aMessage)>;

// The handler of exceptions that reach the event loop; the last one installed wins.
void SetAppExceptionHandler(TzExceptionHandler aHandler);
// Runs the installed handler; without one the message goes to the debug output.
void HandleAppException(QObject *aSender, const QString &aMessage);
