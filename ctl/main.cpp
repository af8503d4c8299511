// quadrelctl: the Quadrel relay module from the shell, for scripts, schedulers and remote shells.
// `quadrelctl --help` lists the commands; the manual page quadrelctl(1) tells them in full.

#include "common/uStopSignalPipe.h"
#include "ctl/uCtlCommandLine.h"
#include "ctl/uCtlHistory.h"
#include "ctl/uCtlScan.h"
#include "ctl/uCtlSession.h"
#include "ctl/uCtlTarget.h"
#include "settings/uSettingsPlace.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <memory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

void Print(FILE *aStream, const QString &aText)
{
    std::fputs(aText.toLocal8Bit().constData(), aStream);
    std::fflush(aStream);
}

bool StandardErrorIsTerminal()
{
#ifdef Q_OS_WIN
    return false;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

// Runs a session or a scan until it tells its exit status; a stop signal (Ctrl+C, SIGTERM) asks it
// to end, which it does cleanly, leaving the port closed.
template <typename Runner>
int Run(Runner &aRunner)
{
    int status = CtlNoAnswer;
    QObject::connect(&aRunner, &Runner::Finished, &aRunner, [&status](int aStatus) {
        status = aStatus;
        QCoreApplication::exit(aStatus);
    });
    const int signalFd = InstallStopSignalPipe();
    std::unique_ptr<QSocketNotifier> notifier;
    if (signalFd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &aRunner, [&aRunner, signalFd] {
#ifndef Q_OS_WIN
            char number = 0;
            while (::read(signalFd, &number, 1) > 0) {
            }
#endif
            aRunner.Interrupt();
        });
    }
    QTimer::singleShot(0, &aRunner, [&aRunner] { aRunner.Start(); });
    QCoreApplication::exec();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quadrelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUADREL_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const TzCtlParseResult parsed = ParseCtlCommandLine(arguments);
    switch (parsed.Outcome) {
    case TzCtlParse::Help: Print(stdout, parsed.Text); return CtlOk;
    case TzCtlParse::Version:
        Print(stdout, QStringLiteral("quadrelctl %1\n").arg(QStringLiteral(QUADREL_VERSION)));
        return CtlOk;
    case TzCtlParse::Mistake:
        Print(stderr, QStringLiteral("quadrelctl: %1\nСправка: quadrelctl --help\n").arg(parsed.Text));
        return CtlUsage;
    case TzCtlParse::Run: break;
    }

    TzCtlPrinter printer;
    printer.Out = [](const QString &aLine) { Print(stdout, aLine + QLatin1Char('\n')); };
    printer.Err = [](const QString &aLine) { Print(stderr, aLine + QLatin1Char('\n')); };
    printer.Progress = [](const QString &aText) { Print(stderr, aText); };
    if (parsed.Request.Command == TzCtlCommand::History)
        return RunCtlHistory(parsed.Request, SettingsFolder(), printer);

    TzCtlConnection connection;
    QString mistake;
    if (!ResolveCtlConnection(parsed.Request.Target, OptionsFileName(), connection, mistake)) {
        Print(stderr, QStringLiteral("quadrelctl: %1\nСправка: quadrelctl --help\n").arg(mistake));
        return CtlUsage;
    }
    if (parsed.Request.Command == TzCtlCommand::Scan) {
        TzCtlScan scan(parsed.Request, connection, printer, StandardErrorIsTerminal());
        return Run(scan);
    }
    TzCtlSession session(parsed.Request, connection, printer);
    return Run(session);
}
