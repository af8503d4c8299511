#pragma once
// How the panel starts and looks: the autorun panel under its button (start at logon, connect by
// itself after a delay, start minimised) with the autostart timer, and the style list with the
// styler that applies the chosen style. What changes here is kept in the options file: the
// window saves it when told through Changed.

#include <QObject>

class QCheckBox;
class QComboBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;
class TzFormStyler;
class TzPanelHost;

// The autorun settings as the options file keeps them.
struct TzAutorunSettings
{
    bool Mini = false;      // an autorun start shows the window minimised
    bool Autostart = false; // an autorun start connects by itself
    bool DelayOn = false;   // ... after the delay
    int DelayValue = 10;    // seconds
};

// The program was started at logon: "/autorun" is its first argument.
bool StartedByAutorun();

class TzAutorunPanel : public QObject
{
    Q_OBJECT

public:
    // Builds the autorun panel (panAutorun, a child of aFrame) that aButton opens, the autostart
    // timer, and fills aStyles with the styles; a fresh panel wears the design style.
    TzAutorunPanel(TzPanelHost &aHost, QPushButton *aButton, QComboBox *aStyles, QWidget *aFrame);

    // The settings in effect: those read at start, and each change made on the panel since.
    const TzAutorunSettings &Settings() const { return fSettings; }
    // The settings as the panel's controls show them: what a save writes.
    TzAutorunSettings Shown() const;
    // The settings read from the options file, shown and in effect. In an autorun start the panel
    // is silent and, with autostart, asks to connect once the delay has passed.
    void Restore(const TzAutorunSettings &aStored);
    // The check box shows whether this program is the one registered to start at logon.
    void RefreshRegistration();
    // This start is an autorun start with the settings read (notices become log lines).
    bool SilentStart() const { return fSilentStart; }

    int Style() const;
    // A stored style; a number outside the list keeps the style there is.
    void RestoreStyle(int aIndex);

signals:
    // A setting changed on the panel or in the style list: the options file is saved.
    void Changed();
    // The autostart delay has passed: the window connects, if it is not connected yet.
    void AutostartDue();

private:
    void CreateControls(QWidget *aFrame);
    void BoxChanged(QObject *aSender);
    void StyleChanged();

    TzPanelHost &fHost;
    QPushButton *fButton;
    QComboBox *fStyles;
    QFrame *fPanel = nullptr;
    QCheckBox *fRegistered = nullptr;
    QCheckBox *fAutostart = nullptr;
    QCheckBox *fDelayOn = nullptr;
    QLineEdit *fDelay = nullptr;
    QCheckBox *fMini = nullptr;
    QTimer *fAutostartTimer = nullptr;
    TzFormStyler *fStyler = nullptr;
    TzAutorunSettings fSettings;
    bool fSilentStart = false;
};
