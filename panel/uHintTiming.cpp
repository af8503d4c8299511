#include "panel/uHintTiming.h"

#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QToolTip>
#include <QWidget>

namespace {

class TzHintStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint aHint, const QStyleOption *aOption, const QWidget *aWidget,
                  QStyleHintReturn *aReturn) const override
    {
        if (aHint == QStyle::SH_ToolTip_WakeUpDelay)
            return HintPauseMs;
        return QProxyStyle::styleHint(aHint, aOption, aWidget, aReturn);
    }
};

// Gives every widget that shows its own hint the application's duration before the hint appears;
// a widget that chose a duration of its own keeps it.
class TzHintDurationFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *aWatched, QEvent *aEvent) override
    {
        if (aEvent->type() == QEvent::ToolTip && aWatched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(aWatched);
            if (widget->toolTipDuration() < 0)
                widget->setToolTipDuration(HintDurationMs);
        }
        return QObject::eventFilter(aWatched, aEvent);
    }
};

} // namespace

void InstallHintTiming(QApplication *aApplication)
{
    if (!aApplication)
        return;
    static QPointer<QObject> filter;
    if (!filter) {
        filter = new TzHintDurationFilter(aApplication);
        aApplication->installEventFilter(filter);
    }
    if (!dynamic_cast<TzHintStyle *>(QApplication::style()))
        QApplication::setStyle(new TzHintStyle(QApplication::style()->name()));
}

void ShowHint(const QPoint &aGlobalPos, const QString &aText, QWidget *aWidget, const QRect &aRect)
{
    QToolTip::showText(aGlobalPos, aText, aWidget, aRect, HintDurationMs);
}
