#pragma once
// The module's own settings: the "Устройство" pop-up panel (address, speed, format, network
// time-out) with its apply, the restart button with its blinking reminder and the restart's
// wait, and the identifier panel with its copy command. It writes to the module through the link
// and tells the window what the window must do through its signals.

#include <QObject>

class QAction;
class QByteArray;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QWidget;
class TzPanelHost;

class TzDeviceSettingsPanel : public QObject
{
    Q_OBJECT

public:
    // Builds the controls on aFrame, which also owns this object.
    TzDeviceSettingsPanel(TzPanelHost &aHost, QWidget *aFrame);

    // The pop-up panel ("panRS485") the window opens beside its "Устройство" button.
    QFrame *Panel() const { return fPanel; }
    // "Перезагрузить": enabled with the window's other command buttons.
    QPushButton *ResetButton() const { return fResetButton; }
    // The module's identifier as shown ("0A-1B-2C-3D-00-10").
    QString Identifier() const;
    // Shows six identifier bytes; anything else leaves the identifier as it is.
    void SetMAC(const QByteArray &aMAC);

signals:
    // The settings were applied: the next connection goes out with this address, speed code
    // (the item of the speed list) and format item.
    void SettingsApplied(int aAddress, int aSpeedCode, int aFormatItem);
    // A restart begins: whatever else would write to the module meanwhile stops now, before the
    // restart command goes out.
    void RestartBegins();
    // The restart's wait ended on the connection it began on: the module now runs under its new
    // settings, and the window lets go of it.
    void RestartWaitOver();

private:
    void CreateControls(QWidget *aFrame);
    // The first cycle is done: the panel shows the module's settings and identifier.
    void ShowModule();
    void ApplyClick();
    void ResetClick();
    void ResetReminderBlink();
    // The end of the restart's wait: lets go of the module, if the restart's connection still runs.
    void RestartWaitEnded();
    void CopyIdentifier();

    TzPanelHost &fHost;
    QPushButton *fResetButton = nullptr;
    QFrame *fPanel = nullptr;
    QLineEdit *fAddress = nullptr;
    QComboBox *fSpeed = nullptr;
    QComboBox *fFormat = nullptr;
    QLineEdit *fTimeout = nullptr;
    QPushButton *fApply = nullptr;
    QLabel *fNeedReset = nullptr;
    QFrame *fIdentifierPanel = nullptr;
    QLabel *fIdentifier = nullptr;
    QMenu *fIdentifierMenu = nullptr;
    QAction *fCopyIdentifier = nullptr;
    QTimer *fReminderTimer = nullptr;
    QTimer *fRestartWait = nullptr; // single shot: the module's restart time
    // The link's connection the restart's wait belongs to.
    quint64 fRestartConnection = 0;
};
