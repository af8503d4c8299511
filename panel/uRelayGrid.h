#pragma once
// The output grid: ten rows of two outputs each (number, state picture, description), with a header
// row whose picture cells switch ten outputs at once. Rows and columns are reported as the frame
// counts them: row 0 is the header, rows 1..10 the outputs.

#include <QStyledItemDelegate>
#include <QTableWidget>

#include <functional>

class TzRelayGrid : public QTableWidget
{
    Q_OBJECT

public:
    explicit TzRelayGrid(QWidget *aParent);

    // A press (or a drag with the left button held) on a cell; row 0 is the header.
    std::function<void(int aCol, int aRow)> OnCellPress;
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
    // Repaints the pictures and refreshes what assistive technology reads for them.
    void Refresh();

protected:
    void mousePressEvent(QMouseEvent *aEvent) override;
    void mouseMoveEvent(QMouseEvent *aEvent) override;
    void wheelEvent(QWheelEvent *aEvent) override;
    void keyPressEvent(QKeyEvent *aEvent) override;
};

// Draws the state pictures: left edge 1 pixel left of the cell, centred in the cell less 2 pixels at
// top and bottom.
class TzRelayPictureDelegate : public QStyledItemDelegate
{
public:
    explicit TzRelayPictureDelegate(TzRelayGrid *aGrid);
    void paint(QPainter *aPainter, const QStyleOptionViewItem &aOption, const QModelIndex &aIndex) const override;

private:
    TzRelayGrid *fGrid;
};
