#pragma once
// Reading the suite's machine-wide registry key. Plain Win32, no Qt.

#include <string>

// Opens HKEY_LOCAL_MACHINE\SOFTWARE\CORVANA\VELOR_PRO for reading; false when it does not open.
// Missing values read as empty.
bool ReadVelorMachineKeyWin(std::wstring &aLocationType, std::wstring &aBasePath);
