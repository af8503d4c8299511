#pragma once
// The port observer: a stay-on-top window listing every request the panel queues and every answer
// that comes back, side by side. The panel announces its traffic to all open observers through
// ObserversAddRequest and ObserversAddAnswer; observers never talk to the port engine.

#include "port/uPortTraffic.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTableView>
#include <QWidget>

#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;
class TzPortObserverModel;

// The observer's grid: whole rows, resizable columns; Ctrl+C, on release, copies the selected row.
class TzObserverGrid : public QTableView
{
    Q_OBJECT

public:
    explicit TzObserverGrid(QWidget *aParent = nullptr);

signals:
    void copyRequested();

protected:
    void keyPressEvent(QKeyEvent *aEvent) override;
    void keyReleaseEvent(QKeyEvent *aEvent) override;
};

class TfrmPortObserver : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmPortObserver(QWidget *aOwner = nullptr);
    ~TfrmPortObserver() override;

    void AddRequest(const TzPortObsRec &aRec);
    void AddAnswer(const TzPortObsRec &aRec);
    void Clear();

    int ComPort() const { return fComPort; }
    // Stores the port number and captions the window "Наблюдение за линией COM" and the number.
    void SetComPort(int aComPort);
    // Captions the window after a line that is not a numbered COM port (a device path, the converter).
    void SetLineName(const QString &aLineName);

    void AutoClearTimerTimer();
    void InterfaceTimerTimer();
    // Puts the selected row on the clipboard, one "header: text" line per column; returns the text.
    QString CopySelectedRow();
    // Writes the rows shown to a CSV file (UTF-8); false when the file cannot be written.
    bool SaveToCsv(const QString &aFileName, QString *aError = nullptr);
    // Asks for a file name and saves the rows there.
    void btnSaveClick();

    // The clocks the rows are stamped with; tests replace them.
    void SetClocks(std::function<uint32_t()> aTick, std::function<qint64()> aNowMs);

    bool Removing = false;

    TzObserverGrid *SG = nullptr;
    TzPortObserverModel *Model = nullptr;
    QPushButton *btnFilters = nullptr;
    QCheckBox *chFilters = nullptr;
    QPushButton *btnClear = nullptr;
    QPushButton *btnPause = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnPin = nullptr;
    QFrame *gbFilters = nullptr;
    QCheckBox *chFilterFunc = nullptr;
    QComboBox *cbFunc = nullptr;
    QCheckBox *chFilterReg = nullptr;
    QSpinBox *txtReg = nullptr;
    QGroupBox *grpView = nullptr;
    QRadioButton *rbHex = nullptr;
    QRadioButton *rbDec = nullptr;
    QGroupBox *grpMode = nullptr;
    QRadioButton *rbStatica = nullptr;
    QRadioButton *rbDinamica = nullptr;
    QPushButton *btnAutoLimit = nullptr;
    QTimer *AutoClearTimer = nullptr;
    QTimer *InterfaceTimer = nullptr;

protected:
    void closeEvent(QCloseEvent *aEvent) override;
    void showEvent(QShowEvent *aEvent) override;
    void hideEvent(QHideEvent *aEvent) override;
    void resizeEvent(QResizeEvent *aEvent) override;
    bool focusNextPrevChild(bool aNext) override;

private:
    void CreateControls();
    void ConnectSignals();
    void LayoutControls();
    void SetStripVisible(bool aVisible);
    bool StripHasFocus() const;
    bool PassesFilters(const TzPortObsRec &aRec) const;
    // Clearing on a change of the filters, while the static mode is on.
    void FiltersChanged();

    int fComPort = 0;
    bool fStripVisible = true;
    std::function<uint32_t()> fTick;
    std::function<qint64()> fNowMs;
};

// The open observers, in the order they were opened.
QList<TfrmPortObserver *> &PortObservers();
// Creates an observer owned by aOwner and adds it to PortObservers; the caller shows it.
TfrmPortObserver *CreatePortObserver(QWidget *aOwner);
void ObserversAddRequest(const TzPortObsRec &aRec);
void ObserversAddAnswer(const TzPortObsRec &aRec);
