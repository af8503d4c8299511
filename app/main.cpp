// quadrel-panel: the Quadrel control panel.
//   quadrel-panel [/autorun] [test]        the panel, for a module on a serial port or a converter
//   quadrel-panel --demo                   the panel with a simulated module, already selected
//   quadrel-panel --connect                connect at start with the selected settings
//   quadrel-panel --screenshot FILE.png [--after MS]   render the window to a picture and exit
//   quadrel-panel --help | --version

#include "app/uApplication.h"
#include "app/uCommandLine.h"
#include "app/uProgramInfo.h"
#include "app/uScreenshot.h"
#include "app/uStopSignals.h"
#ifdef QUADREL_HAS_DEMO
#include "app/uDemo.h"
#endif
#include "app/uPanelWindows.h"
#include "panel/uQuadrel.h"

#include <QDir>
#include <QTimer>

#include <cstdio>

namespace {

// Prints a parse result that ends the program; -1 when the panel is to run.
int AnswerCommandLine(const TzCommandLineResult &aResult)
{
    switch (aResult.Action) {
    case TzCommandLineAction::ShowHelp:
    case TzCommandLineAction::ShowVersion: std::fputs(aResult.Text.toLocal8Bit().constData(), stdout); return 0;
    case TzCommandLineAction::Fail:
        std::fputs(aResult.Text.toLocal8Bit().constData(), stderr);
        return CommandLineErrorExit;
    case TzCommandLineAction::Run: break;
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    {
        // Help, version and mistakes need no display: they are answered before any window system
        // is opened.
        QStringList raw;
        for (int i = 0; i < argc; ++i)
            raw << QString::fromLocal8Bit(argv[i]);
        if (CommandLineAsksForText(raw)) {
            QCoreApplication textOnly(argc, argv);
            ApplyProgramIdentity();
            return AnswerCommandLine(ParseCommandLine(QCoreApplication::arguments()));
        }
    }

    TzApplication app(argc, argv);
    ApplyProgramIdentity();
    // Taken over before any window exists: a stop signal (shutdown, Ctrl+C, logout) from now on
    // ends the program the way closing its window does.
    TzStopSignals stopSignals;
    // The application object has taken its own options (-platform, -style ...) off the line.
    const TzCommandLineResult commandLine = ParseCommandLine(QApplication::arguments());
    if (const int exitCode = AnswerCommandLine(commandLine); exitCode >= 0)
        return exitCode;
    const TzCommandLine &options = commandLine.Options;
    PreparePanelStart();
    TzPanelWindows windows;
    TfrmMain &mainWindow = windows.Main;

#ifdef QUADREL_HAS_DEMO
    TzDemo demo;
    if (options.Demo) {
        QString error;
        if (!demo.Start(mainWindow.Frame(), &error))
            std::fprintf(stderr, "quadrel-panel: имитатор модуля не запустился: %s\n", qPrintable(error));
    }
#else
    if (options.Demo)
        std::fprintf(stderr, "quadrel-panel: в этой сборке нет имитатора модуля\n");
#endif
    mainWindow.ShowAtStart();

    if (options.Connect && mainWindow.Frame())
        QTimer::singleShot(0, mainWindow.Frame(), [&mainWindow] { mainWindow.Frame()->ConnectAsClicked(); });

    if (const QString screenshot = options.Screenshot; !screenshot.isEmpty()) {
        QTimer::singleShot(options.ScreenshotAfterMs, &mainWindow, [&mainWindow, screenshot] {
            QString reason;
            const bool saved = SaveScreenshot(mainWindow.grab(), screenshot, &reason);
            if (!saved)
                std::fprintf(stderr, "quadrel-panel: снимок окна не сохранён в «%s»: %s\n",
                             qPrintable(QDir::toNativeSeparators(screenshot)), qPrintable(reason));
            QApplication::exit(saved ? 0 : 1);
        });
    }
    // Stopped while the windows were being built: the destructors still save and close properly.
    if (stopSignals.Requested())
        return 0;
    return app.exec();
}
