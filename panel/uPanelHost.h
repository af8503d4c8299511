#pragma once
// What a feature's panel (pulse width, sequences, device settings, bus search, web bridge, options)
// may ask of the window that holds it. The features talk to the module through the link and to
// the window only through this, so that none of them reaches into the window's fields.

class QWidget;
class TzQuadrelLink;

// Where a pop-up panel opens next to the button that opened it.
enum TzPanelAlign { alNone, alTop, alBottom, alLeft, alRight };

class TzPanelHost
{
public:
    virtual ~TzPanelHost() = default;

    // The connection to the module.
    virtual TzQuadrelLink &HostLink() = 0;
    // The probe was answered and the connection is up.
    virtual bool HostConnected() const = 0;
    // Opens (or closes, when it is open) aPanel beside aTarget; one pop-up panel at a time.
    virtual void PopupPanel(QWidget *aTarget, QWidget *aPanel, TzPanelAlign aPosition) = 0;
    virtual void CloseAllPanel() = 0;
};
