#pragma once
// The current user's Run value. Plain Win32, no Qt.

#include <string>

// Empty when the key or the value is missing.
std::wstring ReadRunValueWin(const wchar_t *aName);
// Opens the existing Run key (never creates it) and writes the value at once.
bool WriteRunValueWin(const wchar_t *aName, const std::wstring &aData);
bool DeleteRunValueWin(const wchar_t *aName);
