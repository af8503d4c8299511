#pragma once
// Where quadrelctl finds the module: the command line first, the panel's Options.xml for what the
// command line leaves open, and the defaults of the panel for the rest.

#include "ctl/uCtlCommandLine.h"
#include "link/uQuadrelLink.h"

#include <QString>

struct TzCtlConnection
{
    TzLinkSettings Link;
    int TimeoutMs = 0; // serial: the wait for an answer; converter: the wait per attempt
    QString Where;     // "порт /dev/ttyUSB0" or "преобразователь 10.0.0.5:40000", for messages
};

// The connection from the command line and, where it names no port or converter, the options
// file aOptionsFile (a missing or unreadable file counts as none). False with a usage mistake in
// aMistake when neither names the module or a value is out of range.
bool ResolveCtlConnection(const TzCtlTarget &aTarget, const QString &aOptionsFile, TzCtlConnection &aConnection,
                          QString &aMistake);

inline constexpr int CtlDefaultSerialTimeoutMs = 400; // the panel's read constant
inline constexpr int CtlDefaultConverterWaitMs = 200;
inline constexpr int CtlDefaultConverterPort = 40000;
