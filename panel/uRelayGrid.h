#pragma once
// The output grid: a view of the outputs' model in ten rows of two outputs each (number, state
// picture, description), with a header row whose picture cells switch ten outputs at once. It
// shows what the model says, repaints a cell as soon as the model changes it, and writes the
// descriptions edited in it into the model. Rows and columns are reported as the frame counts
// them: row 0 is the header, rows 1..10 the outputs.
//
// Keyboard: the arrow keys move between cells, up from the first row into the header and down
// from the header back; Space on a picture cell or a header picture presses it; F2 or typing opens
// a description for editing.

#include <QHeaderView>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <functional>

class TzOutputsModel;
class TzRelayGrid;

// The longest description the editor takes, in characters.
inline constexpr int DescriptionMaxLength = 255;

// A description as typed or pasted, made one line of characters the project file can carry: line
// breaks and tabs become spaces, control characters and what is no character at all are left out,
// so what the grid shows is what is saved.
QString DescriptionText(const QString &aText);

// The in-place editor of a description: it keeps its text to what DescriptionText allows and to
// DescriptionMaxLength characters; a typed or pasted text cut at the limit flashes the field.
class TzDescriptionEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit TzDescriptionEdit(QWidget *aParent);
    // The text given to the editor; a description longer than the limit, as an older project
    // file may hold, is kept until it is edited.
    void SetInitialText(const QString &aText);

private:
    void TextEdited(const QString &aText);
    qsizetype fAcceptedLength = 0;
};

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
    TzRelayGrid(TzOutputsModel *aOutputs, QWidget *aParent);
    TzOutputsModel *Outputs() const { return fOutputs; }
    // The output shown in a picture cell, 0 for cells without one.
    static int OutputOfCell(int aCol, int aRow);

    // A press on a cell: the left mouse button going down, or Space; row 0 is the header.
    std::function<void(int aCol, int aRow)> OnCellPress;
    // The pointer entered a cell while the left button is held since a press in the grid.
    std::function<void(int aCol, int aRow)> OnCellDrag;
    // The left button was released: the drag, if any, is over.
    std::function<void()> OnDragEnd;

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
    // The hint of a state cell: the stale hint while stale, else the model's for that output.
    QString CellHint(int aCol, int aRow) const;
    TzRelayGridHeader *Header() const { return fHeader; }

protected:
    void mousePressEvent(QMouseEvent *aEvent) override;
    void mouseMoveEvent(QMouseEvent *aEvent) override;
    void mouseReleaseEvent(QMouseEvent *aEvent) override;
    void wheelEvent(QWheelEvent *aEvent) override;
    void keyPressEvent(QKeyEvent *aEvent) override;
    bool viewportEvent(QEvent *aEvent) override;

private:
    // The model changed these cells: their pictures, what assistive technology reads of them and
    // the descriptions shown follow.
    void OutputsChanged(const QModelIndex &aTopLeft, const QModelIndex &aBottomRight, const QList<int> &aRoles);
    // Repaints an output's picture and refreshes what assistive technology reads for it.
    void RefreshState(int aOutput);
    void RefreshStates();
    void ShowDescription(int aOutput);
    // A description cell was edited here: the text goes into the model.
    void DescriptionEdited(QTableWidgetItem *aItem);

    TzOutputsModel *fOutputs;
    TzRelayGridHeader *fHeader = nullptr;
    // Wheel angle not yet scrolled: touchpads send fractions of a notch.
    int fWheelRemainder = 0;
    bool fStale = false;
    QString fStaleHint;
};

// Draws the state pictures: left edge 1 pixel left of the cell, centred in the cell less 2 pixels at
// top and bottom, at the screen's pixel ratio; greyed while the grid's values are stale. The
// descriptions are edited with a TzDescriptionEdit.
class TzRelayPictureDelegate : public QStyledItemDelegate
{
public:
    explicit TzRelayPictureDelegate(TzRelayGrid *aGrid);
    void paint(QPainter *aPainter, const QStyleOptionViewItem &aOption, const QModelIndex &aIndex) const override;
    QWidget *createEditor(QWidget *aParent, const QStyleOptionViewItem &aOption,
                          const QModelIndex &aIndex) const override;
    void setEditorData(QWidget *aEditor, const QModelIndex &aIndex) const override;
    void setModelData(QWidget *aEditor, QAbstractItemModel *aModel, const QModelIndex &aIndex) const override;

private:
    TzRelayGrid *fGrid;
};
