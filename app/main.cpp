// quadrel-panel: the Quadrel control panel.
//   quadrel-panel [test] [/autorun]        the panel, for a module on a serial port or a converter
//   quadrel-panel --demo                   the panel with a simulated module, already selected
//   quadrel-panel --connect                connect at start with the selected settings
//   quadrel-panel --screenshot FILE.png [--after MS]   render the window to a picture and exit

#include "app/uApplication.h"
#ifdef QUADREL_HAS_DEMO
#include "app/uDemo.h"
#endif
#include "app/uMain.h"
#include "VelorCommonUtils/VelorFilePath.h"
#include "diagnostics/uTempLog.h"
#include "diagnostics/uVerInfo.h"
#include "panel/uQuadrel.h"

#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

QString OptionValue(const QStringList &aArguments, const QString &aOption)
{
    const int at = aArguments.indexOf(aOption);
    return at >= 0 && at + 1 < aArguments.size() ? aArguments[at + 1] : QString();
}

} // namespace

int main(int argc, char *argv[])
{
    TzApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Панель управления Quadrel"));
    RegisterQuadrelFrame();
    InitStandardPaths();
    const QStringList arguments = QApplication::arguments();

    // The log window exists before the main window, so nothing the frame reports while it is being
    // built is lost. Closing the main window ends the program even while these two are open.
    TfrmTempLog log;
    log.setAttribute(Qt::WA_QuitOnClose, false);
    TfrmVerInfo versions;
    versions.setAttribute(Qt::WA_QuitOnClose, false);
    TfrmMain mainWindow;

#ifdef QUADREL_HAS_DEMO
    TzDemo demo;
    if (arguments.contains(QStringLiteral("--demo"))) {
        QString error;
        if (!demo.Start(mainWindow.Frame(), &error))
            std::fprintf(stderr, "quadrel-panel: the simulated module did not start: %s\n", qPrintable(error));
    }
#else
    if (arguments.contains(QStringLiteral("--demo")))
        std::fprintf(stderr, "quadrel-panel: this build has no simulated module\n");
#endif
    mainWindow.ShowAtStart();

    if (arguments.contains(QStringLiteral("--connect")) && mainWindow.Frame())
        QTimer::singleShot(0, mainWindow.Frame(), [&mainWindow] { mainWindow.Frame()->btnConnect->click(); });

    const QString screenshot = OptionValue(arguments, QStringLiteral("--screenshot"));
    if (!screenshot.isEmpty()) {
        const int after = OptionValue(arguments, QStringLiteral("--after")).toInt();
        QTimer::singleShot(after > 0 ? after : 1500, &mainWindow, [&mainWindow, screenshot] {
            const bool saved = mainWindow.grab().save(screenshot);
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}
