#pragma once
// The program's command line: the words "test" (test features on) and "/autorun" (started by the
// log-on registration), and the options of the demo and screenshot modes. Parsing is kept apart
// from the windows so it can be checked on its own and before any window exists.

#include <QString>
#include <QStringList>

struct TzCommandLine
{
    bool TestMode = false;        // the word "test" anywhere
    bool Autorun = false;         // "/autorun" as the first parameter (elsewhere it has no effect)
    bool Demo = false;            // --demo
    bool Connect = false;         // --connect
    QString Screenshot;           // --screenshot FILE
    int ScreenshotAfterMs = 1500; // --after MS
};

enum class TzCommandLineAction {
    Run,         // start the panel with Options
    ShowHelp,    // print Text to standard output, exit 0
    ShowVersion, // print Text to standard output, exit 0
    Fail         // print Text to standard error, exit CommandLineErrorExit
};

struct TzCommandLineResult
{
    TzCommandLineAction Action = TzCommandLineAction::Run;
    TzCommandLine Options;
    QString Text;
};

inline constexpr int CommandLineErrorExit = 2;

// aArguments as QCoreApplication::arguments() gives them: the program first.
TzCommandLineResult ParseCommandLine(const QStringList &aArguments);

// True when the command line is answered by text alone (help, version, or a mistake when no
// toolkit option is on the line), which needs no display.
bool CommandLineAsksForText(const QStringList &aArguments);
