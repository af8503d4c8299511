// The test panel "Тестирование": the running light (snake), the running pair (runner), the four
// all-outputs commands, the step time and the caption by which the panel is dragged.

#include "panel/uSequencePanel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "panel/uControlBuilders.h"
#include "panel/uOutputsModel.h"
#include "panel/uPanelHost.h"
#include "panel/uPictureLabel.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace {

using PanelControls::Button;

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

QIcon SnakeIcon(bool aRunning)
{
    return QIcon(PanelPicture(aRunning ? QStringLiteral("snake_stop") : QStringLiteral("snake_start"), QSize(12, 12)));
}

} // namespace

TzSequencePanel::TzSequencePanel(TzPanelHost &aHost, TzOutputsModel &aOutputs, QWidget *aFrame)
    : QObject(aFrame), fHost(aHost), fOutputs(aOutputs)
{
    fPanel = new QFrame(aFrame);
    fPanel->setObjectName(QStringLiteral("panSnake"));
    fPanel->setFrameShape(QFrame::StyledPanel);
    fPanel->setAutoFillBackground(true);
    fPanel->hide();
    fSnake = Button(fPanel, "btnSnakeOn", QStringLiteral("Включить"), QRect(8, 8, 105, 26));
    fRunner = Button(fPanel, "btnRunner", QStringLiteral("Runner"), QRect(117, 8, 105, 26));
    fRunner->setCheckable(true);
    fAllOn = Button(fPanel, "btnAllOn", QStringLiteral("Включить все (быстро)"), QRect(8, 40, 214, 26));
    fAllOff = Button(fPanel, "btnAllOff", QStringLiteral("Отключить все (быстро)"), QRect(8, 70, 214, 26));
    fAllOnSlow = Button(fPanel, "btnAllOnSlow", QStringLiteral("Включить все (по очереди)"), QRect(8, 100, 214, 26));
    fAllOffSlow = Button(fPanel, "btnAllOffSlow", QStringLiteral("Отключить все (по очереди)"), QRect(8, 130, 214, 26));
    // The timers are the panel's, so the operator's tools and the tests find them by name.
    fSnakeTimer = new QTimer(fPanel);
    fSnakeTimer->setObjectName(QStringLiteral("SnakeTimer"));
    fSnakeTimer->setInterval(450);

    fPanel->resize(230, 246);
    auto *caption = new QLabel(QStringLiteral("Тестирование"), fPanel);
    caption->setObjectName(QStringLiteral("labSnakeCaption"));
    caption->setGeometry(1, 1, 228, 20);
    caption->setAlignment(Qt::AlignCenter);
    caption->setAutoFillBackground(true);
    caption->setBackgroundRole(QPalette::Highlight);
    caption->setForegroundRole(QPalette::HighlightedText);
    caption->setCursor(Qt::SizeAllCursor);
    new TzCaptionDrag(caption, fPanel);

    fSnake->setGeometry(8, 26, 105, 26);
    fSnake->setIcon(SnakeIcon(false));
    fRunner->setGeometry(117, 26, 105, 26);
    fSpeedLabel = new QLabel(fPanel);
    fSpeedLabel->setObjectName(QStringLiteral("labSnakeSpeed"));
    fSpeedLabel->setGeometry(8, 56, 214, 18);
    fSpeed = new QScrollBar(Qt::Horizontal, fPanel);
    fSpeed->setObjectName(QStringLiteral("SnakeSpeedScroll"));
    fSpeed->setGeometry(8, 76, 214, 18);
    fSpeed->setRange(50, 2000);
    fSpeed->setSingleStep(5);
    fSpeed->setPageStep(50);
    fSpeed->setValue(1600);
    fSpeed->setFocusPolicy(Qt::StrongFocus);
    // The arrow keys move the thumb the way they point: Right is a shorter step, as with the mouse.
    fSpeed->setInvertedControls(false);
    fSpeed->setAccessibleName(QStringLiteral("Скорость"));
    fSpeedLabel->setBuddy(fSpeed);
    fAllOn->setGeometry(8, 100, 214, 26);
    fAllOff->setGeometry(8, 130, 214, 26);
    fAllOnSlow->setGeometry(8, 160, 214, 26);
    fAllOffSlow->setGeometry(8, 190, 214, 26);

    fRunnerTimer = new QTimer(fPanel);
    fRunnerTimer->setObjectName(QStringLiteral("Runner_Timer"));

    connect(fSnake, &QPushButton::clicked, this, &TzSequencePanel::SnakeClick);
    connect(fRunner, &QPushButton::clicked, this, &TzSequencePanel::RunnerClick);
    // The runner's timer ticks only while the runner is switched on, however it is switched.
    connect(fRunner, &QPushButton::toggled, this, [this](bool aOn) {
        if (aOn)
            fRunnerTimer->start();
        else
            fRunnerTimer->stop();
        TellRunning();
    });
    for (QPushButton *button : {fAllOn, fAllOff, fAllOnSlow, fAllOffSlow})
        connect(button, &QPushButton::clicked, this, [this, button] { AllOutputs(button); });
    connect(fSnakeTimer, &QTimer::timeout, this, &TzSequencePanel::SnakeStep);
    connect(fRunnerTimer, &QTimer::timeout, this, &TzSequencePanel::RunnerStep);
    connect(fSpeed, &QScrollBar::valueChanged, this, &TzSequencePanel::SpeedChanged);
    connect(fSpeed, &QScrollBar::sliderMoved, this, &TzSequencePanel::SpeedDragged);

    SpeedChanged();
}

void TzSequencePanel::SetEnabled(bool aEnabled)
{
    for (QPushButton *button : {fAllOn, fAllOff, fAllOnSlow, fAllOffSlow, fSnake, fRunner})
        button->setEnabled(aEnabled);
}

int TzSequencePanel::StepTime() const
{
    // Moving the thumb to the right shortens the step.
    return fSpeed->maximum() + fSpeed->minimum() - fSpeed->value();
}

void TzSequencePanel::SpeedChanged()
{
    const int step = StepTime();
    fSnakeTimer->setInterval(step);
    fRunnerTimer->setInterval(step);
    fSpeedLabel->setText(QStringLiteral("Скорость: (Шаг в %1 мс)").arg(step));
}

void TzSequencePanel::SpeedDragged(int aPosition)
{
    // A dragged thumb lands on multiples of 5 only.
    if (aPosition % 5 != 0)
        fSpeed->setValue(NearestMultiple(aPosition, 5));
}

void TzSequencePanel::TellRunning()
{
    fOutputs.SetSequenceRunning(fSnakeTimer->isActive() || fRunner->isChecked());
}

void TzSequencePanel::SnakeClick()
{
    TzQuadrelLink &link = fHost.HostLink();
    const TzCommandSourceScope source(link, TzCommandSource::Sequence);
    link.SetRegInOrder(RegStates17, 0);
    link.SetRegInOrder(RegStates1, 0);
    const bool running = fSnakeTimer->isActive();
    fSnake->setText(running ? QStringLiteral("Включить") : QStringLiteral("Отключить"));
    fSnake->setIcon(SnakeIcon(!running));
    fSnakePos = 0;
    fSnakePosPrev = 0;
    fSnakeTimer->setInterval(StepTime());
    if (running)
        fSnakeTimer->stop();
    else
        fSnakeTimer->start();
    TellRunning();
}

void TzSequencePanel::SnakeStep()
{
    TzQuadrelLink &link = fHost.HostLink();
    const TzCommandSourceScope source(link, TzCommandSource::Sequence);
    if (link.OrderedWritesWaiting() > StepBacklog)
        return;
    if (fSnakePos < 10)
        ++fSnakePos;
    else if (fSnakePos > 11)
        --fSnakePos;
    fOutputs.SetState(fSnakePos, true);
    link.SendDOUTInOrder(fSnakePos, true);
    if (fSnakePosPrev > 0) {
        fOutputs.SetState(fSnakePosPrev, false);
        link.SendDOUTInOrder(fSnakePosPrev, false);
    }
    fSnakePosPrev = fSnakePos;
    if (fSnakePos == 10)
        fSnakePos = SnakeTurnDown;
    else if (fSnakePos == 11)
        fSnakePos = SnakeTurnUp;
}

void TzSequencePanel::RunnerClick()
{
    fRunnerPos = 1;
    fRunnerPosPrev = -1;
    fRunnerTimer->setInterval(StepTime());
    TzQuadrelLink &link = fHost.HostLink();
    const TzCommandSourceScope source(link, TzCommandSource::Sequence);
    link.SetRegInOrder(RegStates17, 0);
    link.SetRegInOrder(RegStates1, 0);
}

void TzSequencePanel::RunnerStep()
{
    TzQuadrelLink &link = fHost.HostLink();
    const TzCommandSourceScope source(link, TzCommandSource::Sequence);
    // A running snake pauses the runner; it goes on from where it was when the snake stops.
    if (!fRunner->isChecked() || fSnakeTimer->isActive() || link.OrderedWritesWaiting() > StepBacklog)
        return;
    if (fRunnerPosPrev > 0) {
        fOutputs.SetState(fRunnerPosPrev, false);
        fOutputs.SetState(fRunnerPosPrev + 10, false);
        link.SendDOUTInOrder(fRunnerPosPrev, false);
        link.SendDOUTInOrder(fRunnerPosPrev + 10, false);
    }
    fOutputs.SetState(fRunnerPos, true);
    fOutputs.SetState(fRunnerPos + 10, true);
    link.SendDOUTInOrder(fRunnerPos, true);
    link.SendDOUTInOrder(fRunnerPos + 10, true);
    fRunnerPosPrev = fRunnerPos;
    if (++fRunnerPos > 10)
        fRunnerPos = 1;
}

void TzSequencePanel::AllOutputs(QPushButton *aButton)
{
    TzQuadrelLink &link = fHost.HostLink();
    const TzCommandSourceScope source(link, TzCommandSource::AllOutputs);
    if (aButton == fAllOn) {
        link.SetRegInOrder(RegStates17, 15); // outputs 17..20 are the four low bits
        link.SetRegInOrder(RegStates1, 65535);
    } else if (aButton == fAllOff) {
        link.SetRegInOrder(RegStates17, 0);
        link.SetRegInOrder(RegStates1, 0);
    } else if (aButton == fAllOnSlow || aButton == fAllOffSlow) {
        const bool on = aButton == fAllOnSlow;
        for (int n = 20; n >= 1; --n)
            link.SendDOUTInOrder(n, on);
    }
}

void TzSequencePanel::Stop()
{
    fHost.HostLink().ClearOrderedWrites();
    if (fSnakeTimer->isActive()) {
        fSnakeTimer->stop();
        fSnake->setText(QStringLiteral("Включить"));
        fSnake->setIcon(SnakeIcon(false));
    }
    fRunner->setChecked(false);
    fSnakePos = 0;
    fSnakePosPrev = 0;
    fRunnerPos = 1;
    fRunnerPosPrev = -1;
    TellRunning();
}
