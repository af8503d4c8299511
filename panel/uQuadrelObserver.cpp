// The frame side of the port observer: each press of the observer button opens one more window
// over the panel, captioned after the line the panel is connected through.

#include "panel/uQuadrel.h"

#include "diagnostics/uPortObserver.h"
#include "link/uQuadrelLink.h"
#include "port/uFreePort.h"

void TfrQuadrel::btnPortObserverClick()
{
    TfrmPortObserver *observer = CreatePortObserver(this);
    observer->SetComPort(ComPort);
    if (fLink->ByEthernet())
        observer->SetLineName(QStringLiteral("%1:%2").arg(EthernetHost).arg(EthernetPort));
    else
        observer->SetLineName(PortCaption());
    const QWidget *main = window();
    observer->move(main->x() + width() / 2 - observer->width() / 2, main->y() + height() / 2 - observer->height() / 2);
    observer->show();
}
