#include "panel/uRelayGrid.h"

#include "panel/uPictureLabel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

constexpr int RowHeight = 40;
constexpr int PictureSize = 32;
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

} // namespace

TzRelayGrid::TzRelayGrid(QWidget *aParent) : QTableWidget(10, 6, aParent)
{
    setObjectName(QStringLiteral("SG_Relays"));
    setAccessibleName(QStringLiteral("Дискретные выходы"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
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
            header->setIcon(QIcon(PanelPicture(QStringLiteral("dout_title"), QSize(PictureSize, PictureSize))));
            header->setData(Qt::AccessibleTextRole, col == 1 ? QStringLiteral("Переключить выходы 1-10")
                                                             : QStringLiteral("Переключить выходы 11-20"));
        }
        setHorizontalHeaderItem(col, header);
    }
    for (int row = 0; row < 10; ++row) {
        setItem(row, 0, FixedItem(QString::number(row + 1)));
        setItem(row, 1, FixedItem(QString()));
        setItem(row, 3, FixedItem(QString::number(row + 11)));
        setItem(row, 4, FixedItem(QString()));
        for (const int col : {2, 5}) {
            auto *description = new QTableWidgetItem;
            description->setFlags(Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsSelectable);
            description->setData(Qt::AccessibleTextRole,
                                 QStringLiteral("Описание выхода %1").arg(row + 1 + (col == 5 ? 10 : 0)));
            setItem(row, col, description);
        }
    }
    setItemDelegate(new TzRelayPictureDelegate(this));
    connect(horizontalHeader(), &QHeaderView::sectionPressed, this, [this](int aCol) {
        if (OnCellPress)
            OnCellPress(aCol, 0);
    });
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
    if (aOutput < 1 || aOutput > 20)
        return QString();
    const QTableWidgetItem *cell = item((aOutput - 1) % 10, aOutput <= 10 ? 2 : 5);
    return cell ? cell->text() : QString();
}

void TzRelayGrid::SetDescription(int aOutput, const QString &aText)
{
    if (aOutput < 1 || aOutput > 20)
        return;
    if (QTableWidgetItem *cell = item((aOutput - 1) % 10, aOutput <= 10 ? 2 : 5))
        cell->setText(aText);
}

void TzRelayGrid::Refresh()
{
    if (StateTextOf)
        for (int row = 1; row <= 10; ++row)
            for (const int col : {1, 4})
                if (QTableWidgetItem *cell = item(row - 1, col))
                    cell->setData(Qt::AccessibleTextRole, StateTextOf(col, row));
    viewport()->update();
}

void TzRelayGrid::mousePressEvent(QMouseEvent *aEvent)
{
    int col = 0, row = 0;
    if (aEvent->button() == Qt::LeftButton && CellAt(aEvent->position().toPoint(), col, row) && OnCellPress) {
        OnCellPress(col, row);
        aEvent->accept();
        return;
    }
    QTableWidget::mousePressEvent(aEvent);
}

void TzRelayGrid::mouseMoveEvent(QMouseEvent *aEvent)
{
    int col = 0, row = 0;
    if ((aEvent->buttons() & Qt::LeftButton) && CellAt(aEvent->position().toPoint(), col, row) && OnCellPress) {
        OnCellPress(col, row);
        aEvent->accept();
        return;
    }
    QTableWidget::mouseMoveEvent(aEvent);
}

void TzRelayGrid::wheelEvent(QWheelEvent *aEvent)
{
    const int steps = aEvent->angleDelta().y() / 120;
    const auto action = steps < 0 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub;
    for (int i = 0; i < 5 * std::abs(steps == 0 ? 1 : steps); ++i)
        verticalScrollBar()->triggerAction(action);
    aEvent->accept();
}

void TzRelayGrid::keyPressEvent(QKeyEvent *aEvent)
{
    // Only descriptions take typing; a character typed anywhere else is dropped.
    if (!aEvent->text().isEmpty() && aEvent->text().at(0).isPrint() && !IsDescriptionColumn(currentColumn())) {
        aEvent->accept();
        return;
    }
    QTableWidget::keyPressEvent(aEvent);
}

TzRelayPictureDelegate::TzRelayPictureDelegate(TzRelayGrid *aGrid) : QStyledItemDelegate(aGrid), fGrid(aGrid)
{
}

void TzRelayPictureDelegate::paint(QPainter *aPainter, const QStyleOptionViewItem &aOption,
                                   const QModelIndex &aIndex) const
{
    const int col = aIndex.column();
    if (!IsPictureColumn(col) || !fGrid->PictureOf) {
        QStyledItemDelegate::paint(aPainter, aOption, aIndex);
        return;
    }
    const QRect cell = aOption.rect;
    const QRect area = cell.adjusted(0, 2, 0, -2);
    const QPixmap picture = PanelPicture(fGrid->PictureOf(col, aIndex.row() + 1), QSize(PictureSize, PictureSize));
    const int top = area.top() + (area.height() - picture.height()) / 2;
    aPainter->drawPixmap(cell.left() - 1, top, picture);
}
