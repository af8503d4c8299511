// The twenty outputs: the operator's commands from the output grid (click, Space, drag, header).

#include "panel/uQuadrel.h"

#include "link/uQuadrelLink.h"
#include "panel/uOutputsModel.h"
#include "panel/uRelayGrid.h"
#include "panel/uSequencePanel.h"
#include "panel/uWebBridgePanel.h"

void TfrQuadrel::SendDOUT(int aIndex, bool aOn)
{
    fLink->SendDOUT(aIndex, aOn);
}

void TfrQuadrel::SetDOUT(int aIndex, bool aOn)
{
    fOutputs->SetState(aIndex, aOn);
}

void TfrQuadrel::SwitchRelay(int aIndex, bool aOn)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    CloseAllPanel();
    fOutputs->CommandSent(aIndex, aOn);
    if (fWebBridge->RoutesOutputs()) {
        // Remote control hands the command to the web service; the module is written when a later
        // poll of the service brings the requested state.
        fWebBridge->SendRemoteOutput(aIndex, aOn);
        return;
    }
    SendDOUT(aIndex, aOn);
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
            if (const int output = TzRelayGrid::OutputOfCell(aCol, aRow)) {
                // The command is chosen once, here; a drag that follows applies the same one.
                fDragCommand = fOutputs->Output(output).IsOn() ? DragSwitchOff : DragSwitchOn;
                fDragDone.reset();
                fDragDone.set(size_t(output));
                SwitchRelay(output, fDragCommand == DragSwitchOn);
            }
        }
    }
}

void TfrQuadrel::SG_RelaysMouseMove(int aCol, int aRow)
{
    // A held button that moves on switches every output it enters with the command chosen at
    // the press, each output at most once: moves within one cell never repeat or undo it.
    const int output = TzRelayGrid::OutputOfCell(aCol, aRow);
    if (fDragCommand == DragNone || output == 0 || fDragDone.test(size_t(output)))
        return;
    fDragDone.set(size_t(output));
    SwitchRelay(output, fDragCommand == DragSwitchOn);
}

void TfrQuadrel::SG_RelaysMouseUp()
{
    fDragCommand = DragNone;
    fDragDone.reset();
}

void TfrQuadrel::StopSequences()
{
    fSequences->Stop();
}

void TfrQuadrel::ForgetOutputStates()
{
    // What the grid showed belongs to the previous connection (perhaps another module): until
    // this one reads the states, they are unknown. The state registers' values go with them, so
    // the screen refresh cannot take the old ones for read.
    fOutputs->ForgetStates();
    fLink->ForgetOutputValues();
}
