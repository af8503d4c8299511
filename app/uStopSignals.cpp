#include "app/uStopSignals.h"

#include "common/uStopSignalPipe.h"

#include <QApplication>
#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

TzStopSignals::TzStopSignals(QObject *aParent) : QObject(aParent), fReadEnd(InstallStopSignalPipe())
{
    if (fReadEnd < 0)
        return;
    fNotifier = new QSocketNotifier(fReadEnd, QSocketNotifier::Read, this);
    connect(fNotifier, &QSocketNotifier::activated, this, &TzStopSignals::ReadSignals);
}

TzStopSignals::~TzStopSignals()
{
    // The handlers stay: a signal during the rest of the way out finds no reader, and its byte is
    // dropped quietly.
    delete fNotifier;
#ifndef Q_OS_WIN
    if (fReadEnd >= 0)
        close(fReadEnd);
#endif
}

void TzStopSignals::ReadSignals()
{
#ifndef Q_OS_WIN
    unsigned char numbers[16];
    ssize_t count = 0;
    int first = 0;
    while ((count = read(fReadEnd, numbers, sizeof numbers)) > 0)
        if (first == 0)
            first = numbers[0];
    if (first == 0 || fRequested)
        return;
    fRequested = true;
    emit StopRequested(first);
    // Closing the main window ends the event loop; quit() also ends one whose window was never
    // shown, and every nested loop (an open notice's) with it.
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::closeAllWindows();
    QCoreApplication::quit();
#endif
}
