// The test panel "Тестирование": the running light (snake), the running pair (runner), the four
// all-outputs commands, the step time and the caption by which the panel is dragged.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "panel/uOutputsModel.h"
#include "panel/uPictureLabel.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

namespace {

constexpr int RegStates1 = QuadrelMap::RegStates1to16;
constexpr int RegStates17 = QuadrelMap::RegStates17to20;
constexpr int SnakeTurnDown = 21; // after output 10 the snake jumps to 20 and walks up
constexpr int SnakeTurnUp = 0;    // after output 11 it jumps back to 1
// A step waits while the line has not yet carried the writes of the step before it, so a slow
// line slows the sequence down instead of piling up writes behind it.
constexpr int StepBacklog = 4;

// Drags a panel by one of its children (its caption), kept inside the panel's parent.
class TzCaptionDrag : public QObject
{
public:
    TzCaptionDrag(QWidget *aCaption, QWidget *aPanel) : QObject(aCaption), fPanel(aPanel)
    {
        aCaption->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *aWatched, QEvent *aEvent) override
    {
        switch (aEvent->type()) {
        case QEvent::MouseButtonPress: {
            // Any mouse button takes hold of the caption.
            const auto *mouse = static_cast<QMouseEvent *>(aEvent);
            fGrab = mouse->globalPosition().toPoint() - fPanel->pos();
            fDragging = true;
            fPanel->raise();
            return true;
        }
        case QEvent::MouseMove:
            if (fDragging) {
                const auto *mouse = static_cast<QMouseEvent *>(aEvent);
                QPoint target = mouse->globalPosition().toPoint() - fGrab;
                if (const QWidget *area = fPanel->parentWidget()) {
                    target.setX(std::clamp(target.x(), 0, std::max(0, area->width() - fPanel->width())));
                    target.setY(std::clamp(target.y(), 0, std::max(0, area->height() - fPanel->height())));
                }
                fPanel->move(target);
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (fDragging && static_cast<QMouseEvent *>(aEvent)->buttons() == Qt::NoButton)
                fDragging = false;
            return true;
        default: break;
        }
        return QObject::eventFilter(aWatched, aEvent);
    }

private:
    QWidget *fPanel;
    QPoint fGrab;
    bool fDragging = false;
};

} // namespace

void TfrQuadrel::CreateSequenceControls()
{
    panSnake->resize(230, 246);
    labSnakeCaption = new QLabel(QStringLiteral("Тестирование"), panSnake);
    labSnakeCaption->setObjectName(QStringLiteral("labSnakeCaption"));
    labSnakeCaption->setGeometry(1, 1, 228, 20);
    labSnakeCaption->setAlignment(Qt::AlignCenter);
    labSnakeCaption->setAutoFillBackground(true);
    labSnakeCaption->setBackgroundRole(QPalette::Highlight);
    labSnakeCaption->setForegroundRole(QPalette::HighlightedText);
    labSnakeCaption->setCursor(Qt::SizeAllCursor);
    new TzCaptionDrag(labSnakeCaption, panSnake);

    btnSnakeOn->setGeometry(8, 26, 105, 26);
    btnSnakeOn->setIcon(QIcon(PanelPicture(QStringLiteral("snake_start"), QSize(12, 12))));
    btnRunner->setGeometry(117, 26, 105, 26);
    labSnakeSpeed = new QLabel(panSnake);
    labSnakeSpeed->setObjectName(QStringLiteral("labSnakeSpeed"));
    labSnakeSpeed->setGeometry(8, 56, 214, 18);
    SnakeSpeedScroll = new QScrollBar(Qt::Horizontal, panSnake);
    SnakeSpeedScroll->setObjectName(QStringLiteral("SnakeSpeedScroll"));
    SnakeSpeedScroll->setGeometry(8, 76, 214, 18);
    SnakeSpeedScroll->setRange(50, 2000);
    SnakeSpeedScroll->setSingleStep(5);
    SnakeSpeedScroll->setPageStep(50);
    SnakeSpeedScroll->setValue(1600);
    SnakeSpeedScroll->setFocusPolicy(Qt::StrongFocus);
    // The arrow keys move the thumb the way they point: Right is a shorter step, as with the mouse.
    SnakeSpeedScroll->setInvertedControls(false);
    SnakeSpeedScroll->setAccessibleName(QStringLiteral("Скорость"));
    labSnakeSpeed->setBuddy(SnakeSpeedScroll);
    btnAllOn->setGeometry(8, 100, 214, 26);
    btnAllOff->setGeometry(8, 130, 214, 26);
    btnAllOnSlow->setGeometry(8, 160, 214, 26);
    btnAllOffSlow->setGeometry(8, 190, 214, 26);

    Runner_Timer = new QTimer(this);
    Runner_Timer->setObjectName(QStringLiteral("Runner_Timer"));

    connect(btnSnakeOn, &QPushButton::clicked, this, &TfrQuadrel::btnSnakeOnClick);
    connect(btnRunner, &QPushButton::clicked, this, &TfrQuadrel::btnRunnerClick);
    // The runner's timer ticks only while the runner is switched on, however it is switched.
    connect(btnRunner, &QPushButton::toggled, this, [this](bool aOn) {
        if (aOn)
            Runner_Timer->start();
        else
            Runner_Timer->stop();
        fOutputs->SetSequenceRunning(SnakeTimer->isActive() || aOn);
    });
    for (QPushButton *button : {btnAllOn, btnAllOff, btnAllOnSlow, btnAllOffSlow})
        connect(button, &QPushButton::clicked, this, [this, button] { btnAllOnClick(button); });
    connect(SnakeTimer, &QTimer::timeout, this, &TfrQuadrel::SnakeTimerTimer);
    connect(Runner_Timer, &QTimer::timeout, this, &TfrQuadrel::Runner_TimerTimer);
    connect(SnakeSpeedScroll, &QScrollBar::valueChanged, this, &TfrQuadrel::SnakeSpeedScrollChange);
    connect(SnakeSpeedScroll, &QScrollBar::sliderMoved, this, &TfrQuadrel::SnakeSpeedScrollScroll);

    SnakeSpeedScrollChange();
}

int TfrQuadrel::SnakeStepTime() const
{
    // Moving the thumb to the right shortens the step.
    return SnakeSpeedScroll->maximum() + SnakeSpeedScroll->minimum() - SnakeSpeedScroll->value();
}

void TfrQuadrel::SnakeSpeedScrollChange()
{
    const int step = SnakeStepTime();
    SnakeTimer->setInterval(step);
    Runner_Timer->setInterval(step);
    labSnakeSpeed->setText(QStringLiteral("Скорость: (Шаг в %1 мс)").arg(step));
}

void TfrQuadrel::SnakeSpeedScrollScroll(int aPosition)
{
    // A dragged thumb lands on multiples of 5 only.
    if (aPosition % 5 != 0)
        SnakeSpeedScroll->setValue(NearestMultiple(aPosition, 5));
}

void TfrQuadrel::btnSnakeOnClick()
{
    SetRegInOrder(RegStates17, 0);
    SetRegInOrder(RegStates1, 0);
    const bool running = SnakeTimer->isActive();
    btnSnakeOn->setText(running ? QStringLiteral("Включить") : QStringLiteral("Отключить"));
    btnSnakeOn->setIcon(
        QIcon(PanelPicture(running ? QStringLiteral("snake_start") : QStringLiteral("snake_stop"), QSize(12, 12))));
    SnakePos = 0;
    SnakePosPrev = 0;
    SnakeTimer->setInterval(SnakeStepTime());
    if (running)
        SnakeTimer->stop();
    else
        SnakeTimer->start();
    fOutputs->SetSequenceRunning(SnakeTimer->isActive() || btnRunner->isChecked());
}

void TfrQuadrel::SnakeTimerTimer()
{
    if (fLink->OrderedWritesWaiting() > StepBacklog)
        return;
    if (SnakePos < 10)
        ++SnakePos;
    else if (SnakePos > 11)
        --SnakePos;
    SetDOUT(SnakePos, true);
    SendDOUTInOrder(SnakePos, true);
    if (SnakePosPrev > 0) {
        SetDOUT(SnakePosPrev, false);
        SendDOUTInOrder(SnakePosPrev, false);
    }
    SnakePosPrev = SnakePos;
    if (SnakePos == 10)
        SnakePos = SnakeTurnDown;
    else if (SnakePos == 11)
        SnakePos = SnakeTurnUp;
}

void TfrQuadrel::btnRunnerClick()
{
    RunnerPos = 1;
    RunnerPosPrev = -1;
    Runner_Timer->setInterval(SnakeStepTime());
    SetRegInOrder(RegStates17, 0);
    SetRegInOrder(RegStates1, 0);
}

void TfrQuadrel::Runner_TimerTimer()
{
    // A running snake pauses the runner; it goes on from where it was when the snake stops.
    if (!btnRunner->isChecked() || SnakeTimer->isActive() || fLink->OrderedWritesWaiting() > StepBacklog)
        return;
    if (RunnerPosPrev > 0) {
        SetDOUT(RunnerPosPrev, false);
        SetDOUT(RunnerPosPrev + 10, false);
        SendDOUTInOrder(RunnerPosPrev, false);
        SendDOUTInOrder(RunnerPosPrev + 10, false);
    }
    SetDOUT(RunnerPos, true);
    SetDOUT(RunnerPos + 10, true);
    SendDOUTInOrder(RunnerPos, true);
    SendDOUTInOrder(RunnerPos + 10, true);
    RunnerPosPrev = RunnerPos;
    if (++RunnerPos > 10)
        RunnerPos = 1;
}

void TfrQuadrel::btnAllOnClick(QObject *Sender)
{
    if (Sender == btnAllOn) {
        SetRegInOrder(RegStates17, 15); // outputs 17..20 are the four low bits
        SetRegInOrder(RegStates1, 65535);
    } else if (Sender == btnAllOff) {
        SetRegInOrder(RegStates17, 0);
        SetRegInOrder(RegStates1, 0);
    } else if (Sender == btnAllOnSlow || Sender == btnAllOffSlow) {
        const bool on = Sender == btnAllOnSlow;
        for (int n = 20; n >= 1; --n)
            SendDOUTInOrder(n, on);
    }
}

void TfrQuadrel::StopSequences()
{
    fLink->ClearOrderedWrites();
    if (SnakeTimer->isActive()) {
        SnakeTimer->stop();
        btnSnakeOn->setText(QStringLiteral("Включить"));
        btnSnakeOn->setIcon(QIcon(PanelPicture(QStringLiteral("snake_start"), QSize(12, 12))));
    }
    btnRunner->setChecked(false);
    SnakePos = 0;
    SnakePosPrev = 0;
    RunnerPos = 1;
    RunnerPosPrev = -1;
    fOutputs->SetSequenceRunning(false);
}
