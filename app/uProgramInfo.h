#pragma once
// The program's identity: the name used for settings, paths, the window class and assistive
// technology, the name shown in window captions, the version and the icon.

#include <QString>

class QIcon;

QString ProgramName();        // "quadrel-panel"
QString ProgramDisplayName(); // "Панель управления Quadrel"
QString ProgramVersion();     // the build's version, "1.0.0"
QIcon ProgramIcon();

// Gives the running application these names, its version and its desktop entry.
void ApplyProgramIdentity();
