#include "app/uPanelWindows.h"

#include "VelorCommonUtils/VelorFilePath.h"
#include "panel/uQuadrel.h"

void PreparePanelStart()
{
    RegisterQuadrelFrame();
    InitStandardPaths();
}

TzPanelWindows::TzPanelWindows()
{
    Log.setAttribute(Qt::WA_QuitOnClose, false);
    Versions.setAttribute(Qt::WA_QuitOnClose, false);
}
