#pragma once
// Flashing of a rejected input field: three red phases over about 360 ms, one field at a time.

#include <QObject>
#include <QPalette>
#include <QPointer>

class QTimer;
class QWidget;

class TBlinkTimerObj : public QObject
{
    Q_OBJECT

public:
    TBlinkTimerObj();

    QTimer *Timer = nullptr;

    void Blink(QWidget *aEdit);
    void TimerTimer();

    QWidget *Flashing() const { return fEdit; }
    static TBlinkTimerObj *Instance();

private:
    void Restore();

    QPointer<QWidget> fEdit;
    QPalette fOwnPalette;
    bool fOwnAutoFill = false;
    bool fRed = false;
    int fChangesLeft = 0;
};

// Flashes the field red; a request for the field already flashing is ignored, one for another field
// hands its colour back first and takes over.
void BlinkEdit(QWidget *aEdit);
