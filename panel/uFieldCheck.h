#pragma once
// The check of an integer field before its value is used: text that is no integer flashes the
// field; a number beyond a limit is replaced by that limit, and the field flashes.

class QLineEdit;

// No limit on that side.
inline constexpr int FieldNoLimit = 2147483647;

// True with aValue set when the field holds an integer within aMin..aMax.
bool CheckFieldInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
