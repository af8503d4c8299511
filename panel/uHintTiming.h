#pragma once
// Application-wide hint timing: a hint appears 200 ms after the pointer comes to rest and stays up
// to 100 s, long enough to read a long hint on a workshop screen.

class QApplication;
class QString;
class QWidget;
class QPoint;
class QRect;

inline constexpr int HintPauseMs = 200;
inline constexpr int HintDurationMs = 100000;

// Installs the pause (through the style) and the duration (for every widget's hint). Safe to call
// more than once.
void InstallHintTiming(QApplication *aApplication);

// Shows a hint for a part of a widget (a grid cell) with the application's duration.
void ShowHint(const QPoint &aGlobalPos, const QString &aText, QWidget *aWidget, const QRect &aRect);
