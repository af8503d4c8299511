#pragma once
// The event log window: connection results, unexpected answers, exceptions and running counts of
// Modbus exception codes, newest line first, each line in its own colour. While a log window
// exists it is the sink of the quadrel.* logging categories: warnings and worse in maroon,
// information in navy, debug not shown; other categories go to the message handler as before.

#include <QColor>
#include <QString>
#include <QWidget>

class QTextEdit;

// Colours of log lines.
inline const QColor LogNavy(0, 0, 128);   // notes, counters, errors
inline const QColor LogMaroon(128, 0, 0); // failures
inline const QColor LogGreen(0, 128, 0);  // a successful connection

class TfrmTempLog : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmTempLog(QWidget *aParent = nullptr);
    ~TfrmTempLog() override;

    // Centres the window over the main window.
    void RePos();

    QTextEdit *Rich = nullptr;

    // The log as plain lines, top (newest) first.
    QStringList Lines() const;
    QColor LineColor(int aLine) const;
};

// Adds a line at the top of the log; with more than 999 lines the oldest are cut down to 200.
void TempLogAdd(const QString &aText, const QColor &aColor);
// Updates the counter line of a Modbus exception code (1..8), or of all other codes.
void TempLogErrorCount(int aCode, int aCount);
// The process-wide log window, or null before it is created.
TfrmTempLog *TempLogWindow();
