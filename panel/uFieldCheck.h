#pragma once
// Integer fields as the operator typed them: read, checked against their limits, and flashed when
// they are wrong, so that the operator sees which field stopped an action.

class QLineEdit;

// A limit that is not checked.
inline constexpr int NoLimit = 2147483647;

// The field's integer within aMin..aMax. A bad one flashes the field: text that is no number is
// left as it is, a number out of range is replaced by the limit it broke; false then.
bool CheckBlinkEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
// The field's integer within aMin..aMax. Text that is no number flashes the field; a number out of
// range is left as it is, without a flash; false then.
bool CheckEditInt(QLineEdit *aEdit, int &aValue, int aMin, int aMax);
