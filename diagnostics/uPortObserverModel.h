#pragma once
// The rows of a port observer: one row per request, completed by its answer, and the texts of the
// nine columns. The model keeps the raw frames and renders them in the chosen notation, so a
// notation switch costs nothing per row and 10000 rows stay small.

#include <QAbstractTableModel>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>

struct TzPortObsRec;

// The grid's columns, in order.
enum TzObsColumn { ocIndex, ocTime, ocReg, ocFunc, ocTimeout, ocValue, ocName, ocRequest, ocAnswer, ocColumnCount };

// What a row remembers of its request and answer.
struct TzRowTick
{
    uint32_t TickCount = 0; // tick count (ms) when the request was entered
    QByteArray Request;
    QByteArray Answer;
    QString Name;
    int32_t Reg = 0;
};

// "4096 (0x1000)".
QString ObsRegisterText(int aReg);
// "05h".
QString ObsFunctionText(int aFunc);
// Bytes joined by ".": two upper-case hex digits each, or decimal with single digits padded to two.
QString ObsBytesText(const QByteArray &aBytes, bool aHex);
// The column headers, "##" to "Ответ".
const QStringList &ObsHeaders();
// The initial width of a column in pixels.
int ObsColumnWidth(int aColumn);

class TzPortObserverModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TzPortObserverModel(QObject *aParent = nullptr);

    int rowCount(const QModelIndex &aParent = QModelIndex()) const override;
    int columnCount(const QModelIndex &aParent = QModelIndex()) const override;
    QVariant data(const QModelIndex &aIndex, int aRole = Qt::DisplayRole) const override;
    QVariant headerData(int aSection, Qt::Orientation aOrientation, int aRole = Qt::DisplayRole) const override;

    bool Hex() const { return fHex; }
    void SetHex(bool aHex);

    // The text of a cell as the grid shows it.
    QString CellText(int aRow, int aColumn) const;
    // A cleared grid holds one empty row.
    bool IsCleared() const;

    // The first row, from the top, entered for that register; -1 when none.
    int FindRegRow(int aReg) const;
    // The first row, from the top, whose number is aIndex; -1 when none.
    int FindIndexRow(int aIndex) const;
    // A fresh row for a request: the empty row of a cleared grid, or one appended.
    int NewRow();
    // Writes a request into the row; a reused row keeps its value, elapsed time and answer.
    void EnterRequest(int aRow, const TzPortObsRec &aRec, qint64 aTimeMs, uint32_t aTick);
    // Completes the row with an answer; returns the answer's text in the current notation.
    QString EnterAnswer(int aRow, const TzPortObsRec &aRec, uint32_t aTick);
    // The answer bytes the row shows.
    QByteArray RowAnswer(int aRow) const;

    // Back to one empty row.
    void Clear();
    // Removes the aCount oldest rows (at the top).
    void RemoveOldest(int aCount);

    // The row as "header: text" lines joined by CR LF, column 0 first.
    QString RowCopyText(int aRow) const;
    // Every filled row as CSV (";"-separated, CR LF, UTF-8 text), the header line first.
    QString CsvText() const;

private:
    struct Row
    {
        bool Used = false;
        int32_t Index = 0;
        qint64 TimeMs = 0;
        int32_t Reg = 0;
        int32_t Func = 0;
        QString Timeout;
        QString Value;
        TzRowTick Tick;
    };

    std::deque<Row> fRows;
    bool fHex = true;
};
