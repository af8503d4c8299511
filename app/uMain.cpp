#include "app/uMain.h"

#include "app/uProgramInfo.h"
#include "app/uSystemMenu.h"
#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uFrameGlob.h"
#include "panel/uHintTiming.h"
#include "panel/uPictureLabel.h"
#include "panel/uQuadrel.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>

TfrmMain::TfrmMain(QWidget *aParent) : QWidget(aParent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ProgramDisplayName());
    setWindowIcon(ProgramIcon());
    QFont font(QFontDatabase::families().contains(QStringLiteral("Tahoma")) ? QStringLiteral("Tahoma")
                                                                            : QFont().defaultFamily());
    font.setPointSize(8);
    setFont(font);
    FormCreate();
}

void TfrmMain::FormCreate()
{
    InstallHintTiming(qobject_cast<QApplication *>(QCoreApplication::instance()));

    actTestMode = new QAction(QStringLiteral("Тестовый функционал"), this);
    actTestMode->setCheckable(true);
    actStayOnTop = new QAction(QStringLiteral("Всегда сверху"), this);
    actStayOnTop->setCheckable(true);
    connect(actTestMode, &QAction::triggered, this, [this] { SystemCommand(CmdTestMode); });
    connect(actStayOnTop, &QAction::triggered, this, [this] { SystemCommand(CmdStayOnTop); });
    actJournal = new QAction(QStringLiteral("Журнал"), this);
    actJournal->setObjectName(QStringLiteral("actJournal"));
    actJournal->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    actJournal->setShortcutContext(Qt::WindowShortcut);
    connect(actJournal, &QAction::triggered, this, [this] {
        if (fFrame)
            fFrame->ShowJournal();
    });
    addAction(actJournal);
#ifdef Q_OS_WIN
    AppendSystemMenuCommands(reinterpret_cast<void *>(winId()), CmdTestMode, L"Тестовый функционал", CmdStayOnTop,
                             L"Всегда сверху");
#endif

    if (HasParam(QStringLiteral("test"))) {
        TestMode = true;
        SetCheck(CmdTestMode, true);
    }
    First = true;

    resize(800, 750);
    setMinimumSize(800, 500);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // OpenSSL comes with the system's HTTP library, so no libraries are written beside the program.
    QWidget *frame = CreateDevFrame(QStringLiteral("Quadrel"), 100, this, this);
    fFrame = qobject_cast<TfrQuadrel *>(frame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (frame) {
        layout->addWidget(frame);
        frame->show();
    }
#ifndef Q_OS_WIN
    // Without a system menu the two commands live in the logo's context menu, which the keyboard
    // opens too: the logo takes focus, and the menu key or Shift+F10 shows the menu.
    if (fFrame) {
        fFrame->Logo()->setContextMenuPolicy(Qt::ActionsContextMenu);
        fFrame->Logo()->setFocusPolicy(Qt::StrongFocus);
        fFrame->Logo()->setAccessibleName(QStringLiteral("Quadrel: меню окна"));
        fFrame->Logo()->addAction(actTestMode);
        fFrame->Logo()->addAction(actStayOnTop);
    }
#endif
    // The journal is in the logo's menu everywhere (on Windows the only item there).
    if (fFrame) {
        fFrame->Logo()->setContextMenuPolicy(Qt::ActionsContextMenu);
        fFrame->Logo()->addAction(actJournal);
    }
}

void TfrmMain::FormActivate()
{
    if (!First)
        return;
    if (TfrmTempLog *log = TempLogWindow())
        log->RePos();
    First = false;
}

bool TfrmMain::event(QEvent *aEvent)
{
    if (aEvent->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(aEvent);
}

bool TfrmMain::nativeEvent(const QByteArray &aEventType, void *aMessage, qintptr *aResult)
{
#ifdef Q_OS_WIN
    if (aEventType == "windows_generic_MSG") {
        const int command = SystemMenuCommandOf(aMessage);
        if (command == CmdTestMode || command == CmdStayOnTop) {
            SystemCommand(command);
            *aResult = 0;
            return true;
        }
    }
#endif
    return QWidget::nativeEvent(aEventType, aMessage, aResult);
}

void TfrmMain::ShowAtStart()
{
    if (fFrame && fFrame->StartMinimised())
        showMinimized();
    else
        show();
}

bool TfrmMain::StayOnTop() const
{
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void TfrmMain::SystemCommand(int aCommand)
{
    if (aCommand == CmdStayOnTop) {
        const bool onTop = !StayOnTop();
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (visible)
            show();
        SetCheck(CmdStayOnTop, onTop);
    } else if (aCommand == CmdTestMode) {
        TestMode = !TestMode;
        SetCheck(CmdTestMode, TestMode);
    }
}

void TfrmMain::SetCheck(int aCommand, bool aChecked)
{
    QAction *action = aCommand == CmdTestMode ? actTestMode : actStayOnTop;
    action->setChecked(aChecked);
#ifdef Q_OS_WIN
    CheckSystemMenuCommand(reinterpret_cast<void *>(winId()), aCommand, aChecked);
#endif
}
