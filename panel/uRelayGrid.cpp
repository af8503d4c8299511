#include "panel/uRelayGrid.h"

#include "panel/uBlinker.h"
#include "panel/uHintTiming.h"
#include "panel/uOutputsModel.h"
#include "panel/uPictureLabel.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace {

constexpr int RowHeight = 40;
constexpr int PictureSize = 32;
constexpr int WheelNotch = 120;
constexpr int LinesPerNotch = 5;
const int ColumnWidths[] = {30, 40, 300, 30, 40, 300};

bool IsDescriptionColumn(int aCol)
{
    return aCol == 2 || aCol == 5;
}

bool IsPictureColumn(int aCol)
{
    return aCol == 1 || aCol == 4;
}

QTableWidgetItem *FixedItem(const QString &aText)
{
    auto *item = new QTableWidgetItem(aText);
    item->setFlags(Qt::ItemIsEnabled);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

// Characters that end or break a line, or move to a tab stop: in a one-line description a space.
bool IsLineBreak(char16_t aCode)
{
    return aCode == u'\n' || aCode == u'\r' || aCode == u'\t' || aCode == 0x0085 || aCode == 0x2028 || aCode == 0x2029;
}

// Control characters draw as boxes and the project file cannot carry most of them; U+FFFE and
// U+FFFF are no characters at all.
bool IsDropped(char16_t aCode)
{
    return aCode < 0x20 || (aCode >= 0x7F && aCode <= 0x9F) || aCode == 0xFFFE || aCode == 0xFFFF;
}

// The grid's cells of an output: its picture and its description.
int StateColumn(int aOutput)
{
    return aOutput <= 10 ? 1 : 4;
}

int DescriptionColumn(int aOutput)
{
    return aOutput <= 10 ? 2 : 5;
}

int GridRow(int aOutput)
{
    return (aOutput - 1) % 10;
}

// A state picture cell: what assistive technology reads of it and its hint are asked of the model
// each time, so they never lag behind the picture, which is also chosen as it is drawn.
class TzStateItem : public QTableWidgetItem
{
public:
    explicit TzStateItem(const TzRelayGrid *aGrid) : fGrid(aGrid)
    {
        setFlags(Qt::ItemIsEnabled);
        setTextAlignment(Qt::AlignCenter);
    }

    QVariant data(int aRole) const override
    {
        if (aRole == Qt::AccessibleTextRole)
            return fGrid->Outputs()->StateText(TzRelayGrid::OutputOfCell(column(), row() + 1));
        if (aRole == Qt::ToolTipRole)
            return fGrid->CellHint(column(), row() + 1);
        return QTableWidgetItem::data(aRole);
    }

private:
    const TzRelayGrid *fGrid;
};

} // namespace

QString DescriptionText(const QString &aText)
{
    QString text;
    text.reserve(aText.size());
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const QChar c = aText[i];
        if (c.isHighSurrogate() && i + 1 < aText.size() && aText[i + 1].isLowSurrogate()) {
            text += c;
            text += aText[++i];
        } else if (c.isSurrogate()) {
            continue; // half of a pair: no character
        } else if (c == u'\r' && i + 1 < aText.size() && aText[i + 1] == u'\n') {
            continue; // a CR LF pair makes one space, from its LF
        } else if (IsLineBreak(c.unicode())) {
            text += u' ';
        } else if (!IsDropped(c.unicode())) {
            text += c;
        }
    }
    return text;
}

TzDescriptionEdit::TzDescriptionEdit(QWidget *aParent) : QLineEdit(aParent)
{
    setObjectName(QStringLiteral("DescriptionEditor"));
    setFrame(false);
    connect(this, &QLineEdit::textEdited, this, &TzDescriptionEdit::TextEdited);
}

void TzDescriptionEdit::SetInitialText(const QString &aText)
{
    setText(aText);
    fAcceptedLength = aText.size();
}

void TzDescriptionEdit::TextEdited(const QString &aText)
{
    // What the operator put in ends at the cursor: anything to drop or cut is taken from there.
    const int cursor = cursorPosition();
    QString text = DescriptionText(aText);
    qsizetype end = DescriptionText(aText.left(cursor)).size();
    // Only an edit that grows the text past the limit is cut, by as much as it went over; a longer
    // description from a file is not shortened by an edit that does not lengthen it.
    const qsizetype allowed = std::max<qsizetype>(DescriptionMaxLength, fAcceptedLength);
    const bool cut = text.size() > allowed;
    if (cut) {
        const qsizetype excess = text.size() - allowed;
        qsizetype from = end >= excess ? end - excess : text.size() - excess;
        qsizetype count = excess;
        // Never half a surrogate pair: the character goes whole.
        if (from > 0 && text[from - 1].isHighSurrogate() && text[from].isLowSurrogate()) {
            --from;
            ++count;
        }
        text.remove(from, count);
        end = from;
    }
    if (text != aText) {
        setText(text);
        setCursorPosition(int(end));
    }
    fAcceptedLength = text.size();
    if (cut)
        BlinkEdit(this);
}

TzRelayGrid::TzRelayGrid(TzOutputsModel *aOutputs, QWidget *aParent) : QTableWidget(10, 6, aParent), fOutputs(aOutputs)
{
    setObjectName(QStringLiteral("SG_Relays"));
    setAccessibleName(QStringLiteral("Дискретные выходы"));
    fHeader = new TzRelayGridHeader(this);
    setHorizontalHeader(fHeader);
    // Only the description cells are editable, so F2 and typing open just those.
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setSelectionMode(QAbstractItemView::NoSelection);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(RowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setMinimumHeight(RowHeight);
    horizontalHeader()->setIconSize(QSize(PictureSize, PictureSize));
    for (int col = 0; col < 6; ++col)
        setColumnWidth(col, ColumnWidths[col]);
    horizontalHeader()->setStretchLastSection(true);

    const QStringList headers{"##", "", "Описание", "##", "", "Описание"};
    for (int col = 0; col < 6; ++col) {
        auto *header = new QTableWidgetItem(headers[col]);
        if (IsPictureColumn(col)) {
            header->setIcon(PanelIcon(QStringLiteral("dout_title")));
            header->setData(Qt::AccessibleTextRole, col == 1 ? QStringLiteral("Переключить выходы 1-10")
                                                             : QStringLiteral("Переключить выходы 11-20"));
        }
        setHorizontalHeaderItem(col, header);
    }
    for (int row = 0; row < 10; ++row) {
        setItem(row, 0, FixedItem(QString::number(row + 1)));
        setItem(row, 1, new TzStateItem(this));
        setItem(row, 3, FixedItem(QString::number(row + 11)));
        setItem(row, 4, new TzStateItem(this));
        for (const int col : {2, 5}) {
            auto *description = new QTableWidgetItem;
            description->setFlags(Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsSelectable);
            description->setData(Qt::AccessibleTextRole,
                                 QStringLiteral("Описание выхода %1").arg(row + 1 + (col == 5 ? 10 : 0)));
            setItem(row, col, description);
        }
    }
    setItemDelegate(new TzRelayPictureDelegate(this));
    for (int output = 1; output <= 20; ++output)
        ShowDescription(output);
    RefreshStates();
    connect(fOutputs, &QAbstractItemModel::dataChanged, this, &TzRelayGrid::OutputsChanged);
    connect(this, &QTableWidget::itemChanged, this, &TzRelayGrid::DescriptionEdited);
    connect(horizontalHeader(), &QHeaderView::sectionPressed, this, [this](int aCol) {
        fHeader->SetCurrentSection(aCol);
        if (OnCellPress)
            OnCellPress(aCol, 0);
    });
    setCurrentCell(0, 1);
}

int TzRelayGrid::OutputOfCell(int aCol, int aRow)
{
    if (aRow < 1 || aRow > 10)
        return 0;
    if (aCol == 1)
        return aRow;
    if (aCol == 4)
        return aRow + 10;
    return 0;
}

bool TzRelayGrid::CellAt(const QPoint &aPos, int &aCol, int &aRow) const
{
    const QModelIndex index = indexAt(aPos);
    if (!index.isValid())
        return false;
    aCol = index.column();
    aRow = index.row() + 1;
    return true;
}

void TzRelayGrid::EditDescription(int aCol, int aRow)
{
    if (!IsDescriptionColumn(aCol) || aRow < 1 || aRow > 10)
        return;
    QTableWidgetItem *cell = item(aRow - 1, aCol);
    setCurrentItem(cell);
    editItem(cell);
}

void TzRelayGrid::CloseEditor()
{
    // Leaving the cell commits the text and closes its editor.
    if (state() == QAbstractItemView::EditingState)
        setCurrentIndex(QModelIndex());
}

QString TzRelayGrid::Description(int aOutput) const
{
    return fOutputs->Description(aOutput);
}

void TzRelayGrid::SetDescription(int aOutput, const QString &aText)
{
    fOutputs->SetDescription(aOutput, aText);
}

void TzRelayGrid::SetStale(bool aStale, const QString &aHint)
{
    fStale = aStale;
    fStaleHint = aStale ? aHint : QString();
    RefreshStates();
}

QString TzRelayGrid::CellHint(int aCol, int aRow) const
{
    if (fStale)
        return fStaleHint;
    return fOutputs->Hint(OutputOfCell(aCol, aRow));
}

void TzRelayGrid::OutputsChanged(const QModelIndex &aTopLeft, const QModelIndex &aBottomRight, const QList<int> &aRoles)
{
    const bool statesShown = aRoles.isEmpty() || aRoles.contains(TzOutputsModel::PictureRole);
    const bool descriptionsShown = aRoles.isEmpty() || aRoles.contains(Qt::DisplayRole);
    for (int row = aTopLeft.row(); row <= aBottomRight.row(); ++row) {
        const int output = row + 1;
        if (statesShown && aTopLeft.column() <= TzOutputsModel::ColState
            && aBottomRight.column() >= TzOutputsModel::ColState)
            RefreshState(output);
        if (descriptionsShown && aBottomRight.column() >= TzOutputsModel::ColDescription)
            ShowDescription(output);
    }
}

void TzRelayGrid::RefreshState(int aOutput)
{
    QTableWidgetItem *cell = item(GridRow(aOutput), StateColumn(aOutput));
    if (!cell)
        return;
    // Stored too, so that a change is announced as one.
    cell->setData(Qt::AccessibleTextRole, fOutputs->StateText(aOutput));
    cell->setData(Qt::ToolTipRole, CellHint(cell->column(), cell->row() + 1));
    viewport()->update(visualItemRect(cell));
}

void TzRelayGrid::RefreshStates()
{
    for (int output = 1; output <= 20; ++output)
        RefreshState(output);
}

void TzRelayGrid::ShowDescription(int aOutput)
{
    if (QTableWidgetItem *cell = item(GridRow(aOutput), DescriptionColumn(aOutput)))
        cell->setText(fOutputs->Description(aOutput));
}

void TzRelayGrid::DescriptionEdited(QTableWidgetItem *aItem)
{
    if (!aItem || !IsDescriptionColumn(aItem->column()))
        return;
    fOutputs->SetDescription(aItem->row() + 1 + (aItem->column() == 5 ? 10 : 0), aItem->text());
}

void TzRelayGrid::mousePressEvent(QMouseEvent *aEvent)
{
    int col = 0, row = 0;
    if (aEvent->button() == Qt::LeftButton && CellAt(aEvent->position().toPoint(), col, row) && OnCellPress) {
        setCurrentCell(row - 1, col);
        OnCellPress(col, row);
        aEvent->accept();
        return;
    }
    QTableWidget::mousePressEvent(aEvent);
}

void TzRelayGrid::mouseMoveEvent(QMouseEvent *aEvent)
{
    int col = 0, row = 0;
    if (aEvent->buttons() & Qt::LeftButton) {
        // The frame decides what a drag does; every move is reported, repeats included.
        if (CellAt(aEvent->position().toPoint(), col, row) && OnCellDrag)
            OnCellDrag(col, row);
        aEvent->accept();
        return;
    }
    QTableWidget::mouseMoveEvent(aEvent);
}

void TzRelayGrid::mouseReleaseEvent(QMouseEvent *aEvent)
{
    if (aEvent->button() == Qt::LeftButton && OnDragEnd)
        OnDragEnd();
    QTableWidget::mouseReleaseEvent(aEvent);
}

void TzRelayGrid::wheelEvent(QWheelEvent *aEvent)
{
    // A notch is 120; touchpads send parts of one. The parts add up, and every full notch scrolls
    // five lines in the direction the wheel turned.
    fWheelRemainder += aEvent->angleDelta().y();
    while (fWheelRemainder >= WheelNotch || fWheelRemainder <= -WheelNotch) {
        const bool up = fWheelRemainder > 0;
        const auto action = up ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd;
        for (int i = 0; i < LinesPerNotch; ++i)
            verticalScrollBar()->triggerAction(action);
        fWheelRemainder += up ? -WheelNotch : WheelNotch;
    }
    aEvent->accept();
}

void TzRelayGrid::keyPressEvent(QKeyEvent *aEvent)
{
    const int col = currentColumn();
    const int row = currentRow() + 1;
    if (state() != QAbstractItemView::EditingState && aEvent->modifiers() == Qt::NoModifier) {
        if (aEvent->key() == Qt::Key_Space && IsPictureColumn(col) && row >= 1) {
            if (!aEvent->isAutoRepeat() && OnCellPress)
                OnCellPress(col, row);
            aEvent->accept();
            return;
        }
        if (aEvent->key() == Qt::Key_Up && row == 1) {
            // From the first row up into the header, in the same column.
            fHeader->SetCurrentSection(col);
            fHeader->setFocus(Qt::TabFocusReason);
            aEvent->accept();
            return;
        }
    }
    // Only descriptions take typing; a character typed anywhere else is dropped.
    if (!aEvent->text().isEmpty() && aEvent->text().at(0).isPrint() && !IsDescriptionColumn(col)) {
        aEvent->accept();
        return;
    }
    QTableWidget::keyPressEvent(aEvent);
}

bool TzRelayGrid::viewportEvent(QEvent *aEvent)
{
    if (aEvent->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(aEvent);
        const QModelIndex index = indexAt(help->pos());
        const QString hint = index.data(Qt::ToolTipRole).toString();
        if (!hint.isEmpty()) {
            ShowHint(help->globalPos(), hint, viewport(), visualRect(index));
            return true;
        }
    }
    return QTableWidget::viewportEvent(aEvent);
}

TzRelayGridHeader::TzRelayGridHeader(TzRelayGrid *aGrid) : QHeaderView(Qt::Horizontal, aGrid), fGrid(aGrid)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Заголовок таблицы выходов"));
}

void TzRelayGridHeader::SetCurrentSection(int aSection)
{
    if (aSection < 0 || aSection >= count())
        return;
    fCurrentSection = aSection;
    viewport()->update();
}

void TzRelayGridHeader::keyPressEvent(QKeyEvent *aEvent)
{
    if (aEvent->modifiers() != Qt::NoModifier) {
        QHeaderView::keyPressEvent(aEvent);
        return;
    }
    switch (aEvent->key()) {
    case Qt::Key_Left: SetCurrentSection(fCurrentSection - 1); break;
    case Qt::Key_Right: SetCurrentSection(fCurrentSection + 1); break;
    case Qt::Key_Down:
        fGrid->setCurrentCell(0, fCurrentSection);
        fGrid->setFocus(Qt::TabFocusReason);
        break;
    case Qt::Key_Space:
        if (IsPictureColumn(fCurrentSection) && !aEvent->isAutoRepeat() && fGrid->OnCellPress)
            fGrid->OnCellPress(fCurrentSection, 0);
        break;
    default: QHeaderView::keyPressEvent(aEvent); return;
    }
    aEvent->accept();
}

void TzRelayGridHeader::paintSection(QPainter *aPainter, const QRect &aRect, int aSection) const
{
    QHeaderView::paintSection(aPainter, aRect, aSection);
    if (hasFocus() && aSection == fCurrentSection) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = aRect.adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, aPainter, this);
    }
}

void TzRelayGridHeader::focusInEvent(QFocusEvent *aEvent)
{
    QHeaderView::focusInEvent(aEvent);
    viewport()->update();
}

void TzRelayGridHeader::focusOutEvent(QFocusEvent *aEvent)
{
    QHeaderView::focusOutEvent(aEvent);
    viewport()->update();
}

TzRelayPictureDelegate::TzRelayPictureDelegate(TzRelayGrid *aGrid) : QStyledItemDelegate(aGrid), fGrid(aGrid) {}

QWidget *TzRelayPictureDelegate::createEditor(QWidget *aParent, const QStyleOptionViewItem &aOption,
                                              const QModelIndex &aIndex) const
{
    if (!IsDescriptionColumn(aIndex.column()))
        return QStyledItemDelegate::createEditor(aParent, aOption, aIndex);
    return new TzDescriptionEdit(aParent);
}

void TzRelayPictureDelegate::setEditorData(QWidget *aEditor, const QModelIndex &aIndex) const
{
    if (auto *description = qobject_cast<TzDescriptionEdit *>(aEditor)) {
        description->SetInitialText(aIndex.data(Qt::EditRole).toString());
        return;
    }
    QStyledItemDelegate::setEditorData(aEditor, aIndex);
}

void TzRelayPictureDelegate::setModelData(QWidget *aEditor, QAbstractItemModel *aModel, const QModelIndex &aIndex) const
{
    if (auto *description = qobject_cast<TzDescriptionEdit *>(aEditor)) {
        const QString text = description->text();
        // The editor keeps its text clean as it is edited; an untouched one hands back what it got.
        if (text != aIndex.data(Qt::EditRole).toString())
            aModel->setData(aIndex, DescriptionText(text), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(aEditor, aModel, aIndex);
}

void TzRelayPictureDelegate::paint(QPainter *aPainter, const QStyleOptionViewItem &aOption,
                                   const QModelIndex &aIndex) const
{
    const int col = aIndex.column();
    if (!IsPictureColumn(col)) {
        QStyledItemDelegate::paint(aPainter, aOption, aIndex);
        return;
    }
    const QRect cell = aOption.rect;
    const QRect area = cell.adjusted(0, 2, 0, -2);
    const QRect picture(cell.left() - 1, area.top() + (area.height() - PictureSize) / 2, PictureSize, PictureSize);
    PanelIcon(fGrid->Outputs()->Picture(TzRelayGrid::OutputOfCell(col, aIndex.row() + 1)))
        .paint(aPainter, picture, Qt::AlignCenter, fGrid->IsStale() ? QIcon::Disabled : QIcon::Normal);
    if (aOption.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(aOption);
        focus.rect = cell.adjusted(1, 1, -1, -1);
        fGrid->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, aPainter, fGrid);
    }
}
