#pragma once
// The output grid: ten rows of two outputs each (number, state picture, description), with a header
// row whose picture cells switch ten outputs at once. Rows and columns are reported as the frame
// counts them: row 0 is the header, rows 1..10 the outputs.
//
// Keyboard: the arrow keys move between cells, up from the first row into the header and down
// from the header back; Space on a picture cell or a header picture presses it; F2 or typing opens
// a description for editing.

#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <functional>

class TzRelayGrid;

// The header row: its picture sections take the keyboard like the cells below them.
class TzRelayGridHeader : public QHeaderView
{
    Q_OBJECT

public:
    explicit TzRelayGridHeader(TzRelayGrid *aGrid);
    int CurrentSection() const { return fCurrentSection; }
    void SetCurrentSection(int aSection);

protected:
    void keyPressEvent(QKeyEvent *aEvent) override;
    void paintSection(QPainter *aPainter, const QRect &aRect, int aSection) const override;
    void focusInEvent(QFocusEvent *aEvent) override;
    void focusOutEvent(QFocusEvent *aEvent) override;

private:
    TzRelayGrid *fGrid;
    int fCurrentSection = 1;
};

class TzRelayGrid : public QTableWidget
{
    Q_OBJECT

public:
    explicit TzRelayGrid(QWidget *aParent);

    // A press on a cell: the left mouse button going down, or Space; row 0 is the header.
    std::function<void(int aCol, int aRow)> OnCellPress;
    // The pointer entered a cell while the left button is held since a press in the grid.
    std::function<void(int aCol, int aRow)> OnCellDrag;
    // The left button was released: the drag, if any, is over.
    std::function<void()> OnDragEnd;
    // The picture of a state cell (columns 1 and 4): a name under ":/pictures/".
    std::function<QString(int aCol, int aRow)> PictureOf;
    // The accessible description of a state cell.
    std::function<QString(int aCol, int aRow)> StateTextOf;

    // The cell under a point of the viewport, in the frame's counting; false outside the cells.
    bool CellAt(const QPoint &aPos, int &aCol, int &aRow) const;
    // Opens the in-place editor on a description cell.
    void EditDescription(int aCol, int aRow);
    void CloseEditor();
    QString Description(int aOutput) const;
    void SetDescription(int aOutput, const QString &aText);
    // Stale pictures are drawn greyed, with aHint as their tool tip; an empty hint when not stale.
    void SetStale(bool aStale, const QString &aHint);
    bool IsStale() const { return fStale; }
    // Repaints the pictures and refreshes what assistive technology reads for them.
    void Refresh();
    TzRelayGridHeader *Header() const { return fHeader; }

protected:
    void mousePressEvent(QMouseEvent *aEvent) override;
    void mouseMoveEvent(QMouseEvent *aEvent) override;
    void mouseReleaseEvent(QMouseEvent *aEvent) override;
    void wheelEvent(QWheelEvent *aEvent) override;
    void keyPressEvent(QKeyEvent *aEvent) override;
    bool viewportEvent(QEvent *aEvent) override;

private:
    TzRelayGridHeader *fHeader = nullptr;
    // Wheel angle not yet scrolled: touchpads send fractions of a notch.
    int fWheelRemainder = 0;
    bool fStale = false;
    QString fStaleHint;
};

// Draws the state pictures: left edge 1 pixel left of the cell, centred in the cell less 2 pixels at
// top and bottom, at the screen's pixel ratio; greyed while the grid's values are stale.
class TzRelayPictureDelegate : public QStyledItemDelegate
{
public:
    explicit TzRelayPictureDelegate(TzRelayGrid *aGrid);
    void paint(QPainter *aPainter, const QStyleOptionViewItem &aOption, const QModelIndex &aIndex) const override;

private:
    TzRelayGrid *fGrid;
};
