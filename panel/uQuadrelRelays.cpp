// The twenty outputs: commands, displayed states, safe states and the output grid's handlers.

#include "panel/uQuadrel.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uQuadrelMap.h"
#include "panel/uPictureLabel.h"
#include "panel/uRelayGrid.h"
#include "panel/uWebBridgePanel.h"

#include <QCheckBox>
#include <QPushButton>

void TfrQuadrel::SendDOUT(int aIndex, bool aOn)
{
    fLink->SendDOUT(aIndex, aOn);
}

void TfrQuadrel::SetDOUT(int aIndex, bool aOn)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    DOUTs[size_t(aIndex)].SetIsOn(aOn);
    SG_Relays->Refresh();
}

void TfrQuadrel::SetDOUT_Temp(int)
{
    // The per-output buttons of the older layout do not exist; the grid shows the pending state.
}

void TfrQuadrel::PressRelay(int aIndex)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    SwitchRelay(aIndex, !DOUTs[size_t(aIndex)].IsOn());
}

void TfrQuadrel::SwitchRelay(int aIndex, bool aOn)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    CloseAllPanel();
    TzDiscretOutParams &output = DOUTs[size_t(aIndex)];
    output.IsWait = true;
    output.ShimKoef = aOn ? 1000 : 0;
    if (fWebBridge->RoutesOutputs()) {
        // Remote control hands the command to the web service; the module is written when a later
        // poll of the service brings the requested state.
        fWebBridge->SendRemoteOutput(aIndex, aOn);
        return;
    }
    SendDOUT(aIndex, aOn);
}

int TfrQuadrel::OutputOfCell(int aCol, int aRow)
{
    if (aRow < 1 || aRow > 10)
        return 0;
    if (aCol == 1)
        return aRow;
    if (aCol == 4)
        return aRow + 10;
    return 0;
}

void TfrQuadrel::StatusSafeCallback(TzTag *aTag)
{
    if (!aTag)
        return;
    const int value = static_cast<int>(std::trunc(aTag->Value()));
    if (aTag->ID == QuadrelMap::RegSafe17to20)
        for (int n = 17; n <= 20; ++n)
            DOUTs[size_t(n)].ShimSafe = IsBitSet(value, uint8_t(n - 17)) ? 1 : 0;
    int safe16 = 0;
    if (TryValueByID(QuadrelMap::RegSafe1to16, safe16))
        for (int n = 1; n <= 16; ++n)
            DOUTs[size_t(n)].ShimSafe = IsBitSet(safe16, uint8_t(n - 1)) ? 1 : 0;
}

void TfrQuadrel::SG_RelaysMouseDown(int aCol, int aRow)
{
    if (aRow == 0) {
        // Header pictures switch ten outputs, always directly on the module.
        if (aCol == 1) {
            TableRelaysA_IsOn = !TableRelaysA_IsOn;
            for (int n = 1; n <= 10; ++n)
                SendDOUT(n, TableRelaysA_IsOn);
        } else if (aCol == 4) {
            TableRelaysB_IsOn = !TableRelaysB_IsOn;
            for (int n = 11; n <= 20; ++n)
                SendDOUT(n, TableRelaysB_IsOn);
        }
    } else if (aRow >= 1 && aRow <= 10) {
        if (aCol == 2 || aCol == 5) {
            SG_Relays->EditDescription(aCol, aRow);
        } else {
            SG_Relays->CloseEditor();
            if (const int output = OutputOfCell(aCol, aRow)) {
                // The command is chosen once, here; a drag that follows applies the same one.
                fDragCommand = DOUTs[size_t(output)].IsOn() ? DragSwitchOff : DragSwitchOn;
                fDragDone.reset();
                fDragDone.set(size_t(output));
                SwitchRelay(output, fDragCommand == DragSwitchOn);
            }
        }
    }
    SG_Relays->Refresh();
}

void TfrQuadrel::SG_RelaysMouseMove(int aCol, int aRow)
{
    // A held button that moves on switches every output it enters with the command chosen at
    // the press, each output at most once: moves within one cell never repeat or undo it.
    const int output = OutputOfCell(aCol, aRow);
    if (fDragCommand == DragNone || output == 0 || fDragDone.test(size_t(output)))
        return;
    fDragDone.set(size_t(output));
    SwitchRelay(output, fDragCommand == DragSwitchOn);
    SG_Relays->Refresh();
}

void TfrQuadrel::SG_RelaysMouseUp()
{
    fDragCommand = DragNone;
    fDragDone.reset();
}

QString TfrQuadrel::RelayPicture(int aIndex) const
{
    if (aIndex < 1 || aIndex > 20)
        return QStringLiteral("dout_off");
    const TzDiscretOutParams &output = DOUTs[size_t(aIndex)];
    if (!Connected)
        return QStringLiteral("dout_off");
    if (output.IsWait)
        return QStringLiteral("dout_wait");
    if (output.ShimOn())
        return QStringLiteral("dout_pulse");
    if (!output.StateKnown) {
        // Read but not yet taken over by the screen refresh: shown as read.
        int states = 0;
        if (!TryValueByID(aIndex <= 16 ? QuadrelMap::RegStates1to16 : QuadrelMap::RegStates17to20, states))
            return QStringLiteral("dout_unknown");
        return IsBitSet(states, uint8_t(aIndex <= 16 ? aIndex - 1 : aIndex - 17)) ? QStringLiteral("dout_on")
                                                                                  : QStringLiteral("dout_off");
    }
    if (output.IsOn())
        return QStringLiteral("dout_on");
    return QStringLiteral("dout_off");
}

QString TfrQuadrel::RelayStateText(int aIndex) const
{
    const QString picture = RelayPicture(aIndex);
    QString state = QStringLiteral("выключен");
    if (picture == QStringLiteral("dout_on"))
        state = QStringLiteral("включён");
    else if (picture == QStringLiteral("dout_wait"))
        state = QStringLiteral("ожидание");
    else if (picture == QStringLiteral("dout_pulse"))
        state = QStringLiteral("ШИМ");
    else if (picture == QStringLiteral("dout_unknown"))
        state = QStringLiteral("состояние неизвестно");
    return QStringLiteral("Выход %1: %2").arg(aIndex).arg(state);
}

QString TfrQuadrel::RelayHint(int aIndex) const
{
    if (RelayPicture(aIndex) == QStringLiteral("dout_unknown"))
        return QStringLiteral("Состояние выхода ещё не прочитано");
    return QString();
}

void TfrQuadrel::ForgetOutputStates()
{
    // What the grid showed belongs to the previous connection (perhaps another module): until
    // this one reads the states, they are unknown. The state registers' values go with them, so
    // the screen refresh cannot take the old ones for read.
    for (int n = 1; n <= 20; ++n)
        DOUTs[size_t(n)].ForgetState();
    fLink->ForgetOutputValues();
    SG_Relays->Refresh();
}
