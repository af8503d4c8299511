#include "diagnostics/uTempLog.h"

#include <QApplication>
#include <QMetaObject>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>
#include <cstring>

namespace {

TfrmTempLog *gTempLog = nullptr;

constexpr int MaxLines = 999;
constexpr int LinesKept = 200;

QTextCharFormat ColourFormat(const QColor &aColor)
{
    QTextCharFormat format;
    format.setForeground(aColor);
    return format;
}

// Replaces the text of one line, keeping its place and its colour.
void ReplaceLine(QTextDocument *aDocument, int aLine, const QString &aText)
{
    const QTextBlock block = aDocument->findBlockByNumber(aLine);
    QTextCursor cursor(block);
    const QTextCharFormat format = block.begin() != block.end() ? block.begin().fragment().charFormat()
                                                                : block.charFormat();
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(aText, format);
}

// ---- the sink of the quadrel.* logging categories ----

// The handler that was in place before the first log window installed its own; windows count
// so that the last one to go restores it.
std::atomic<QtMessageHandler> gPreviousHandler{nullptr};
int gSinkUsers = 0;

bool OurCategory(const QMessageLogContext &aContext)
{
    return aContext.category && std::strncmp(aContext.category, "quadrel.", 8) == 0;
}

// Messages of the quadrel.* categories become log lines: failures maroon, news navy, debug not
// shown. Lower layers log from their own threads: the line is added on the interface thread.
void ForwardToLog(QtMsgType aType, const QMessageLogContext &aContext, const QString &aText)
{
    const QtMessageHandler previous = gPreviousHandler;
    const bool ours = OurCategory(aContext);
    // Other categories go on as before; ours reach standard error only when an operator asks for
    // them with QT_LOGGING_RULES. A fatal message always ends where it did.
    if (previous && (!ours || aType == QtFatalMsg || qEnvironmentVariableIsSet("QT_LOGGING_RULES")))
        previous(aType, aContext, aText);
    if (!ours || aType == QtDebugMsg)
        return;
    const QColor color = aType == QtInfoMsg ? LogNavy : LogMaroon;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() == app->thread())
        TempLogAdd(aText, color);
    else
        QMetaObject::invokeMethod(app, [aText, color] { TempLogAdd(aText, color); }, Qt::QueuedConnection);
}

void InstallLogSink()
{
    if (gSinkUsers++ == 0)
        gPreviousHandler = qInstallMessageHandler(ForwardToLog);
}

void RemoveLogSink()
{
    if (--gSinkUsers == 0)
        qInstallMessageHandler(gPreviousHandler.exchange(nullptr));
}

} // namespace

TfrmTempLog::TfrmTempLog(QWidget *aParent) : QWidget(aParent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmTempLog"));
    setWindowTitle(QStringLiteral("Лог"));
    resize(635, 413);
    Rich = new QTextEdit(this);
    Rich->setObjectName(QStringLiteral("Rich"));
    Rich->setReadOnly(true);
    Rich->setLineWrapMode(QTextEdit::NoWrap);
    Rich->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Rich->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Rich->setAccessibleName(QStringLiteral("Лог"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Rich);
    gTempLog = this;
    InstallLogSink();

    TempLogAdd(QStringLiteral("Других ошибок: 0"), LogNavy);
    for (int code = 8; code >= 1; --code)
        TempLogAdd(QStringLiteral("Ошибок 0%1h: 0").arg(code), LogNavy);
}

TfrmTempLog::~TfrmTempLog()
{
    RemoveLogSink();
    if (gTempLog == this)
        gTempLog = nullptr;
}

void TfrmTempLog::RePos()
{
    const QWidget *main = QApplication::activeWindow();
    const QRect area = main && main != this ? main->frameGeometry()
                                            : (screen() ? screen()->availableGeometry() : QRect());
    if (area.isValid())
        move(area.center() - QPoint(width() / 2, height() / 2));
}

QStringList TfrmTempLog::Lines() const
{
    QStringList lines;
    for (QTextBlock block = Rich->document()->begin(); block.isValid(); block = block.next())
        lines << block.text();
    // The document always holds one block; an empty log has no lines.
    if (lines.size() == 1 && lines.front().isEmpty() && Rich->document()->isEmpty())
        lines.clear();
    return lines;
}

QColor TfrmTempLog::LineColor(int aLine) const
{
    const QTextBlock block = Rich->document()->findBlockByNumber(aLine);
    if (!block.isValid())
        return QColor();
    if (block.begin() != block.end())
        return block.begin().fragment().charFormat().foreground().color();
    return block.charFormat().foreground().color();
}

void TempLogAdd(const QString &aText, const QColor &aColor)
{
    if (!gTempLog)
        return;
    QTextDocument *document = gTempLog->Rich->document();
    if (document->blockCount() > MaxLines) {
        QTextCursor cursor(document->findBlockByNumber(LinesKept - 1));
        cursor.movePosition(QTextCursor::EndOfBlock);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::Start);
    const bool empty = document->isEmpty();
    cursor.insertText(aText, ColourFormat(aColor));
    // Splitting after the new text leaves the earlier first line, with its own colour, below it.
    if (!empty)
        cursor.insertBlock();
}

void TempLogErrorCount(int aCode, int aCount)
{
    if (!gTempLog)
        return;
    QTextDocument *document = gTempLog->Rich->document();
    const bool knownCode = aCode >= 1 && aCode <= 8;
    const QString key = knownCode ? QStringLiteral("Ошибок 0%1").arg(aCode) : QStringLiteral("Других ошибок:");
    const QString line = knownCode ? QStringLiteral("Ошибок 0%1h: %2").arg(aCode).arg(aCount)
                                   : QStringLiteral("Других ошибок: %1").arg(aCount);
    for (int i = 0; i < document->blockCount(); ++i)
        if (document->findBlockByNumber(i).text().contains(key))
            ReplaceLine(document, i, line);
}

TfrmTempLog *TempLogWindow()
{
    return gTempLog;
}
