#pragma once
// The test panel "Тестирование": the running light (snake), the running pair (runner), the four
// all-outputs commands, the step time and the caption by which the panel is dragged. While a
// sequence runs, the outputs' model shows its steps rather than the states read meanwhile.

#include <QObject>

class QFrame;
class QLabel;
class QPushButton;
class QScrollBar;
class QTimer;
class QWidget;
class TzOutputsModel;
class TzPanelHost;

class TzSequencePanel : public QObject
{
    Q_OBJECT

public:
    // Builds the panel, hidden, as a child of aFrame.
    TzSequencePanel(TzPanelHost &aHost, TzOutputsModel &aOutputs, QWidget *aFrame);

    QFrame *Panel() const { return fPanel; }
    // The commands go out only once the module is read: disabled until then.
    void SetEnabled(bool aEnabled);
    // The step of both sequences in ms: moving the thumb to the right shortens it.
    int StepTime() const;
    // The pair the runner lights next, 1..10.
    int RunnerPos() const { return fRunnerPos; }
    int SnakePos() const { return fSnakePos; }
    // Stops both sequences without a write and drops the ordered writes not yet handed over: on
    // disconnection, restart and close.
    void Stop();

private:
    void SnakeClick();
    void SnakeStep();
    void RunnerClick();
    void RunnerStep();
    void AllOutputs(QPushButton *aButton);
    void SpeedChanged();
    void SpeedDragged(int aPosition);
    // Tells the outputs' model whether a sequence's steps are on screen.
    void TellRunning();

    TzPanelHost &fHost;
    TzOutputsModel &fOutputs;
    QFrame *fPanel = nullptr;
    QPushButton *fSnake = nullptr;
    QPushButton *fRunner = nullptr;
    QPushButton *fAllOn = nullptr;
    QPushButton *fAllOff = nullptr;
    QPushButton *fAllOnSlow = nullptr;
    QPushButton *fAllOffSlow = nullptr;
    QLabel *fSpeedLabel = nullptr;
    QScrollBar *fSpeed = nullptr;
    QTimer *fSnakeTimer = nullptr;
    QTimer *fRunnerTimer = nullptr;
    int fSnakePos = 0;
    int fSnakePosPrev = 0;
    int fRunnerPos = 1;
    int fRunnerPosPrev = -1;
};
