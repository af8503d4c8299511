#pragma once
// TfrmMain: the program's single main window. It holds the panel frame over its whole client
// area and offers two commands in its system menu (elsewhere: in the logo's context menu):
// "Тестовый функционал" and "Всегда сверху".

#include <QWidget>

class QAction;
class TfrQuadrel;

class TfrmMain : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *aParent = nullptr);

    // System-menu command identifiers.
    static constexpr int CmdTestMode = 1369;
    static constexpr int CmdStayOnTop = 1370;

    // Runs one of the two added commands, as the system menu would.
    void SystemCommand(int aCommand);
    bool StayOnTop() const;

    TfrQuadrel *Frame() const { return fFrame; }
    // Shows the window, minimised when the frame was started by autorun and asked for it.
    void ShowAtStart();
    QAction *actTestMode = nullptr;
    QAction *actStayOnTop = nullptr;
    QAction *actJournal = nullptr; // "Журнал", Ctrl+J: in the logo's menu everywhere
    bool First = true;

protected:
    bool event(QEvent *aEvent) override;
    bool nativeEvent(const QByteArray &aEventType, void *aMessage, qintptr *aResult) override;

private:
    void FormCreate();
    void FormActivate();
    void SetCheck(int aCommand, bool aChecked);

    TfrQuadrel *fFrame = nullptr;
};
