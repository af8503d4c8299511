#pragma once
// The version window: the program's version history, newest first, with a small "work in progress"
// animation in the newest heading.

#include <QWidget>

class QLabel;
class QScrollArea;
class QTimer;

class TfrmVerInfo : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmVerInfo(QWidget *aParent = nullptr);
    ~TfrmVerInfo() override;

    QLabel *labWorking = nullptr;
    QScrollArea *ScrollBox = nullptr;
    QTimer *Timer1 = nullptr;
    int WorkingCount = 0;

    // One step of the heading animation (every 250 ms while the window is shown).
    void Timer1Timer();

protected:
    void showEvent(QShowEvent *aEvent) override;
    void hideEvent(QHideEvent *aEvent) override;
    void wheelEvent(QWheelEvent *aEvent) override;
};

// The process-wide version window, or null before it is created.
TfrmVerInfo *VerInfoWindow();
