#include "panel/uOutputsModel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "model/uTag.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace {

bool IsOutput(int aOutput)
{
    return aOutput >= 1 && aOutput <= TzOutputsModel::Count;
}

// What a change of a record can alter in its state cell.
struct TzCellSnapshot
{
    TzDiscretOutParams Record;
    QString Picture;
};

QList<int> ChangedRoles(const TzCellSnapshot &aBefore, const TzCellSnapshot &aAfter)
{
    QList<int> roles;
    if (aBefore.Picture != aAfter.Picture)
        roles << TzOutputsModel::PictureRole << Qt::AccessibleTextRole << Qt::ToolTipRole;
    const TzDiscretOutParams &a = aBefore.Record, &b = aAfter.Record;
    if (a.IsOn() != b.IsOn())
        roles << TzOutputsModel::IsOnRole;
    if (a.StateKnown != b.StateKnown)
        roles << TzOutputsModel::StateKnownRole;
    if (a.IsWait != b.IsWait)
        roles << TzOutputsModel::WaitingRole;
    if (a.ShimScale != b.ShimScale)
        roles << TzOutputsModel::ScaleRole;
    if (a.ShimPeriod != b.ShimPeriod)
        roles << TzOutputsModel::PeriodRole;
    if (a.ShimKoef != b.ShimKoef)
        roles << TzOutputsModel::FillRole;
    if (a.ShimSafe != b.ShimSafe)
        roles << TzOutputsModel::SafeRole;
    return roles;
}

} // namespace

TzOutputsModel::TzOutputsModel(QObject *aParent) : QAbstractTableModel(aParent) {}

int TzOutputsModel::rowCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : Count;
}

int TzOutputsModel::columnCount(const QModelIndex &aParent) const
{
    return aParent.isValid() ? 0 : ColCount;
}

QVariant TzOutputsModel::data(const QModelIndex &aIndex, int aRole) const
{
    if (!checkIndex(aIndex, CheckIndexOption::IndexIsValid))
        return QVariant();
    const int output = aIndex.row() + 1;
    const TzDiscretOutParams &record = Output(output);
    switch (aIndex.column()) {
    case ColNumber:
        if (aRole == Qt::DisplayRole)
            return output;
        if (aRole == Qt::TextAlignmentRole)
            return int(Qt::AlignCenter);
        break;
    case ColState:
        switch (aRole) {
        case PictureRole: return Picture(output);
        case Qt::AccessibleTextRole: return StateText(output);
        case Qt::ToolTipRole: return Hint(output);
        case IsOnRole: return record.IsOn();
        case StateKnownRole: return record.StateKnown;
        case WaitingRole: return record.IsWait;
        case ScaleRole: return record.ShimScale;
        case PeriodRole: return record.ShimPeriod;
        case FillRole: return record.ShimKoef;
        case SafeRole: return record.ShimSafe;
        default: break;
        }
        break;
    case ColDescription:
        if (aRole == Qt::DisplayRole || aRole == Qt::EditRole)
            return Description(output);
        if (aRole == Qt::AccessibleTextRole)
            return QStringLiteral("Описание выхода %1").arg(output);
        break;
    default: break;
    }
    return QVariant();
}

bool TzOutputsModel::setData(const QModelIndex &aIndex, const QVariant &aValue, int aRole)
{
    if (!checkIndex(aIndex, CheckIndexOption::IndexIsValid) || aIndex.column() != ColDescription
        || aRole != Qt::EditRole)
        return false;
    SetDescription(aIndex.row() + 1, aValue.toString());
    return true;
}

Qt::ItemFlags TzOutputsModel::flags(const QModelIndex &aIndex) const
{
    if (!checkIndex(aIndex, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    if (aIndex.column() == ColDescription)
        return Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsSelectable;
    return Qt::ItemIsEnabled;
}

const TzDiscretOutParams &TzOutputsModel::Output(int aOutput) const
{
    static const TzDiscretOutParams None;
    return IsOutput(aOutput) ? fOutputs[size_t(aOutput - 1)] : None;
}

QString TzOutputsModel::Picture(int aOutput) const
{
    if (!IsOutput(aOutput) || !fConnected)
        return QStringLiteral("dout_off");
    const TzDiscretOutParams &output = Output(aOutput);
    if (output.IsWait)
        return QStringLiteral("dout_wait");
    if (output.ShimOn())
        return QStringLiteral("dout_pulse");
    if (!output.StateKnown) {
        // Read while a light sequence showed its own steps: shown as read.
        if (!output.ReadKnown)
            return QStringLiteral("dout_unknown");
        return output.ReadOn ? QStringLiteral("dout_on") : QStringLiteral("dout_off");
    }
    return output.IsOn() ? QStringLiteral("dout_on") : QStringLiteral("dout_off");
}

QString TzOutputsModel::StateText(int aOutput) const
{
    const QString picture = Picture(aOutput);
    QString state = QStringLiteral("выключен");
    if (picture == QStringLiteral("dout_on"))
        state = QStringLiteral("включён");
    else if (picture == QStringLiteral("dout_wait"))
        state = QStringLiteral("ожидание");
    else if (picture == QStringLiteral("dout_pulse"))
        state = QStringLiteral("ШИМ");
    else if (picture == QStringLiteral("dout_unknown"))
        state = QStringLiteral("состояние неизвестно");
    return QStringLiteral("Выход %1: %2").arg(aOutput).arg(state);
}

QString TzOutputsModel::Hint(int aOutput) const
{
    if (Picture(aOutput) == QStringLiteral("dout_unknown"))
        return QStringLiteral("Состояние выхода ещё не прочитано");
    return QString();
}

QString TzOutputsModel::Description(int aOutput) const
{
    return IsOutput(aOutput) ? fDescriptions[size_t(aOutput - 1)] : QString();
}

template <class F>
void TzOutputsModel::Change(int aFirst, int aLast, F aChange)
{
    aFirst = std::max(aFirst, 1);
    aLast = std::min(aLast, int(Count));
    if (aFirst > aLast)
        return;
    std::array<TzCellSnapshot, Count> before;
    for (int n = aFirst; n <= aLast; ++n)
        before[size_t(n - 1)] = {Output(n), Picture(n)};
    aChange();
    for (int n = aFirst; n <= aLast; ++n) {
        const QList<int> roles = ChangedRoles(before[size_t(n - 1)], {Output(n), Picture(n)});
        if (!roles.isEmpty())
            emit dataChanged(StateIndex(n), StateIndex(n), roles);
    }
}

void TzOutputsModel::SetConnected(bool aConnected)
{
    if (aConnected != fConnected)
        Change(1, Count, [&] { fConnected = aConnected; });
}

void TzOutputsModel::StatesRead(int aStatesID, int aBits)
{
    if (!fConnected)
        return;
    const bool first16 = aStatesID == QuadrelMap::RegStates1to16;
    if (!first16 && aStatesID != QuadrelMap::RegStates17to20)
        return;
    const int first = first16 ? 1 : 17;
    const int last = first16 ? 16 : 20;
    Change(first, last, [&] {
        for (int n = first; n <= last; ++n) {
            TzDiscretOutParams &output = fOutputs[size_t(n - 1)];
            const bool on = IsBitSet(aBits, uint8_t(n - first));
            output.ReadKnown = true;
            output.ReadOn = on;
            if (!fSequenceRunning)
                output.SetIsOn(on);
        }
    });
}

void TzOutputsModel::SetSequenceRunning(bool aRunning)
{
    fSequenceRunning = aRunning;
}

void TzOutputsModel::SetState(int aOutput, bool aOn)
{
    if (IsOutput(aOutput))
        Change(aOutput, aOutput, [&] { fOutputs[size_t(aOutput - 1)].SetIsOn(aOn); });
}

void TzOutputsModel::CommandSent(int aOutput, bool aOn)
{
    if (!IsOutput(aOutput))
        return;
    Change(aOutput, aOutput, [&] {
        TzDiscretOutParams &output = fOutputs[size_t(aOutput - 1)];
        output.IsWait = true;
        output.ShimKoef = aOn ? 1000 : 0;
    });
}

void TzOutputsModel::ForgetStates()
{
    Change(1, Count, [&] {
        for (TzDiscretOutParams &output : fOutputs)
            output.ForgetState();
    });
}

void TzOutputsModel::SetPulseWidth(int aOutput, int aScale, int aPeriod, int aFill)
{
    if (!IsOutput(aOutput))
        return;
    Change(aOutput, aOutput, [&] {
        TzDiscretOutParams &output = fOutputs[size_t(aOutput - 1)];
        output.ShimScale = aScale;
        output.ShimPeriod = aPeriod;
        output.ShimKoef = aFill;
    });
}

void TzOutputsModel::SetFill(int aOutput, int aFill)
{
    if (IsOutput(aOutput))
        Change(aOutput, aOutput, [&] { fOutputs[size_t(aOutput - 1)].ShimKoef = aFill; });
}

void TzOutputsModel::SetSafe(int aOutput, int aSafe)
{
    if (IsOutput(aOutput))
        Change(aOutput, aOutput, [&] { fOutputs[size_t(aOutput - 1)].ShimSafe = aSafe; });
}

void TzOutputsModel::PulseWidthBlockRead(const TzTag &aTag)
{
    if (aTag.ID != QuadrelMap::TagPulseBlock1 && aTag.ID != QuadrelMap::TagPulseBlock11)
        return;
    const QByteArray &data = aTag.Data;
    if (data.size() < 60)
        return;
    const int first = aTag.ID == QuadrelMap::TagPulseBlock1 ? 1 : 11;
    auto word = [&data](int aOffset) { return (uint8_t(data[aOffset]) << 8) | uint8_t(data[aOffset + 1]); };
    Change(first, first + 9, [&] {
        for (int i = 0; i < 10; ++i) {
            TzDiscretOutParams &output = fOutputs[size_t(first + i - 1)];
            output.ShimScale = word(6 * i);
            output.ShimPeriod = word(6 * i + 2);
            output.ShimKoef = word(6 * i + 4);
        }
    });
}

void TzOutputsModel::SafeStatesRead(int aSafeID, int aBits)
{
    const bool first16 = aSafeID == QuadrelMap::RegSafe1to16;
    if (!first16 && aSafeID != QuadrelMap::RegSafe17to20)
        return;
    const int first = first16 ? 1 : 17;
    const int last = first16 ? 16 : 20;
    Change(first, last, [&] {
        for (int n = first; n <= last; ++n)
            fOutputs[size_t(n - 1)].ShimSafe = IsBitSet(aBits, uint8_t(n - first)) ? 1 : 0;
    });
}

bool TzOutputsModel::SetDescription(int aOutput, const QString &aText)
{
    if (!IsOutput(aOutput) || fDescriptions[size_t(aOutput - 1)] == aText)
        return false;
    fDescriptions[size_t(aOutput - 1)] = aText;
    emit dataChanged(DescriptionIndex(aOutput), DescriptionIndex(aOutput), {Qt::DisplayRole, Qt::EditRole});
    return true;
}

void TzOutputsModel::Follow(TzQuadrelLink *aLink)
{
    fLink = aLink;
    if (!aLink)
        return;
    // A state is shown as soon as it is read, not at the next screen refresh.
    connect(aLink, &TzQuadrelLink::OutputsRead, this, &TzOutputsModel::StatesFromLink);
    connect(aLink, &TzQuadrelLink::PulseWidthBlockRead, this, [this](TzTag *aTag) {
        if (aTag)
            PulseWidthBlockRead(*aTag);
    });
    connect(aLink, &TzQuadrelLink::SafeStatesRead, this, [this](TzTag *aTag) {
        if (!aTag)
            return;
        // Outputs 17..20 from the register just read; 1..16 from their register's last good
        // value, whichever of the two was read.
        if (aTag->ID == QuadrelMap::RegSafe17to20)
            SafeStatesRead(QuadrelMap::RegSafe17to20, static_cast<int>(std::trunc(aTag->Value())));
        int safe16 = 0;
        if (fLink && fLink->TryValueByID(QuadrelMap::RegSafe1to16, safe16))
            SafeStatesRead(QuadrelMap::RegSafe1to16, safe16);
    });
}

void TzOutputsModel::TakeReadStates()
{
    StatesFromLink(QuadrelMap::RegStates1to16);
    StatesFromLink(QuadrelMap::RegStates17to20);
}

void TzOutputsModel::StatesFromLink(int aStatesID)
{
    int states = 0;
    if (fLink && fLink->TryValueByID(aStatesID, states))
        StatesRead(aStatesID, states);
}
