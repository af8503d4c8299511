#pragma once
// The twenty outputs as the panel knows them: the state read back (or not yet), a command waiting
// for its answer, the pulse-width parameters, the safe state and the operator's description, and
// whether the module is connected at all. Views (the output grid) show it; the link's answers and
// the panel's commands change it, and every change is announced as dataChanged for exactly the
// cell and roles it touched.
//
// Rows are outputs 1..20 (row = output - 1); the columns are the number, the state and the
// description.

#include "panel/uDiscretOutParams.h"

#include <QAbstractTableModel>
#include <QString>

#include <array>

class TzQuadrelLink;
class TzTag;

class TzOutputsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int Count = 20;
    enum TzColumn { ColNumber, ColState, ColDescription, ColCount };
    // The state cell's roles beside Qt::AccessibleTextRole (its state text) and Qt::ToolTipRole
    // (its hint): the picture's name under ":/pictures/", and the record's fields.
    enum TzRole {
        PictureRole = Qt::UserRole + 1,
        IsOnRole,
        StateKnownRole,
        WaitingRole,
        ScaleRole,
        PeriodRole,
        FillRole,
        SafeRole,
    };

    explicit TzOutputsModel(QObject *aParent = nullptr);

    int rowCount(const QModelIndex &aParent = QModelIndex()) const override;
    int columnCount(const QModelIndex &aParent = QModelIndex()) const override;
    QVariant data(const QModelIndex &aIndex, int aRole = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &aIndex, const QVariant &aValue, int aRole = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &aIndex) const override;

    // The cells of output aOutput (1..20).
    QModelIndex StateIndex(int aOutput) const { return index(aOutput - 1, ColState); }
    QModelIndex DescriptionIndex(int aOutput) const { return index(aOutput - 1, ColDescription); }

    // The record of output aOutput (1..20); an empty one outside that range.
    const TzDiscretOutParams &Output(int aOutput) const;
    // "dout_off", "dout_on", "dout_wait", "dout_pulse" or "dout_unknown".
    QString Picture(int aOutput) const;
    // What assistive technology reads: "Выход 3: включён".
    QString StateText(int aOutput) const;
    // Why the picture shows no state yet; empty otherwise.
    QString Hint(int aOutput) const;
    QString Description(int aOutput) const;

    // --- what changes it ---
    // Offline every output shows the off picture, whatever its record holds.
    bool Connected() const { return fConnected; }
    void SetConnected(bool aConnected);
    // A states register (60016: outputs 1..16, 60015: 17..20) was read with these bits. The
    // outputs take the states over, ending their commands, unless a light sequence runs.
    void StatesRead(int aStatesID, int aBits);
    // While a light sequence runs, its own steps are shown: the states read meanwhile lag behind
    // them and are only noted (an output not shown since the connection began shows them).
    void SetSequenceRunning(bool aRunning);
    bool SequenceRunning() const { return fSequenceRunning; }
    // The panel set the output's state itself (a sequence's step).
    void SetState(int aOutput, bool aOn);
    // A command to switch the output went out: it waits, and its duty factor is what the command
    // makes it (0 or 1000).
    void CommandSent(int aOutput, bool aOn);
    // A new connection begins: every output is unknown until its state is read.
    void ForgetStates();
    void SetPulseWidth(int aOutput, int aScale, int aPeriod, int aFill);
    void SetFill(int aOutput, int aFill);
    void SetSafe(int aOutput, int aSafe);
    // A pulse-width block (600170: outputs 1..10, 600470: 11..20), six bytes an output.
    void PulseWidthBlockRead(const TzTag &aTag);
    // A safe-states register (60014: outputs 1..16, 60013: 17..20) with these bits.
    void SafeStatesRead(int aSafeID, int aBits);
    // The operator's text for the output; true when it changed.
    bool SetDescription(int aOutput, const QString &aText);

    // Takes what the link reads of the outputs: their states as soon as they are read, the
    // pulse-width blocks and the safe states.
    void Follow(TzQuadrelLink *aLink);
    // The states registers' last good values, taken over again (the screen refresh).
    void TakeReadStates();

private:
    // Runs aChange on the records of outputs aFirst..aLast and announces what it changed.
    template <class F>
    void Change(int aFirst, int aLast, F aChange);
    void StatesFromLink(int aStatesID);

    std::array<TzDiscretOutParams, Count> fOutputs{};
    std::array<QString, Count> fDescriptions;
    bool fConnected = false;
    bool fSequenceRunning = false;
    TzQuadrelLink *fLink = nullptr;
};
