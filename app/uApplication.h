#pragma once
// The application object: an exception that escapes any event handler is handed to the installed
// handler (the panel writes it to the log) instead of ending the program.

#include "common/uAppException.h"

#include <QApplication>

class TzApplication : public QApplication
{
public:
    TzApplication(int &argc, char **argv);
    bool notify(QObject *aReceiver, QEvent *aEvent) override;
};
