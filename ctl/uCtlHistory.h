#pragma once
// quadrelctl history: the events the panel's journal keeps for a range, as text or a JSON object a
// line. It reads Journal.sqlite beside the panel's Options.xml while the panel may be writing it.

#include "ctl/uCtlCommandLine.h"
#include "ctl/uCtlSession.h"

#include <QString>

// Prints the events and gives the exit status: 1 when the journal cannot be read.
int RunCtlHistory(const TzCtlRequest &aRequest, const QString &aFolder, const TzCtlPrinter &aPrinter);
