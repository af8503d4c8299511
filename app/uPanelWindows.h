#pragma once
// The program's windows, built in the order they must exist: the log window before the main
// window, so that nothing the frame reports while it is being built is lost. Closing the main
// window ends the program even while the log and version windows are open.

#include "app/uMain.h"
#include "diagnostics/uTempLog.h"
#include "diagnostics/uVerInfo.h"

// Registers the panel frame and finds the program's folders: done once, before TzPanelWindows.
void PreparePanelStart();

struct TzPanelWindows
{
    TzPanelWindows();

    TfrmTempLog Log;
    TfrmVerInfo Versions;
    TfrmMain Main;
};
