#include "panel/uBlinker.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

namespace {
constexpr int BlinkInterval = 60;
constexpr int BlinkChanges = 6;
} // namespace

TBlinkTimerObj::TBlinkTimerObj()
{
    Timer = new QTimer(this);
    Timer->setInterval(BlinkInterval);
    connect(Timer, &QTimer::timeout, this, &TBlinkTimerObj::TimerTimer);
}

TBlinkTimerObj *TBlinkTimerObj::Instance()
{
    // Created on first use and kept to program exit, parented to the application so it goes with it.
    static QPointer<TBlinkTimerObj> instance;
    if (!instance) {
        instance = new TBlinkTimerObj;
        if (QCoreApplication::instance())
            instance->setParent(QCoreApplication::instance());
    }
    return instance;
}

void TBlinkTimerObj::Blink(QWidget *aEdit)
{
    if (!aEdit || aEdit == fEdit)
        return;
    if (fEdit)
        Restore();
    fEdit = aEdit;
    fOwnPalette = aEdit->palette();
    fOwnAutoFill = aEdit->autoFillBackground();
    fRed = false;
    fChangesLeft = BlinkChanges;
    Timer->start();
}

void TBlinkTimerObj::TimerTimer()
{
    if (!fEdit) {
        Timer->stop();
        return;
    }
    if (!fRed) {
        QPalette red = fOwnPalette;
        red.setColor(QPalette::Base, QColor(255, 0, 0));
        red.setColor(QPalette::Window, QColor(255, 0, 0));
        fEdit->setAutoFillBackground(true);
        fEdit->setPalette(red);
        fRed = true;
    } else {
        Restore();
    }
    if (--fChangesLeft <= 0) {
        Restore();
        fEdit = nullptr;
        Timer->stop();
    }
}

void TBlinkTimerObj::Restore()
{
    if (fEdit) {
        fEdit->setPalette(fOwnPalette);
        fEdit->setAutoFillBackground(fOwnAutoFill);
    }
    fRed = false;
}

void BlinkEdit(QWidget *aEdit)
{
    TBlinkTimerObj::Instance()->Blink(aEdit);
}
