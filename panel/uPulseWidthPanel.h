#pragma once
// The pulse-width panel: the selector row of the twenty outputs, the three parameter fields of
// the selected one with their check and "Применить", the factory values, the safe state, and the
// duration calculator beside it, which shows the closed and open durations and can turn entered
// durations back into parameters. It shows the outputs' model and writes through the link.

#include <QObject>

#include <array>

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QWidget;
class TzOutputsModel;
class TzPanelHost;

class TzPulseWidthPanel : public QObject
{
    Q_OBJECT

public:
    // Builds the panel and the calculator, hidden, as children of aFrame.
    TzPulseWidthPanel(TzPanelHost &aHost, TzOutputsModel &aOutputs, QWidget *aFrame);

    QFrame *Panel() const { return fPanel; }
    QFrame *Calculator() const { return fCalculator; }
    // Opens the panel beside aTarget (or closes it when open), with the selected output's values
    // and the calculator below its right edge.
    void Open(QWidget *aTarget);
    // Shows output aIndex's parameters in the fields and marks its selector button.
    void Select(int aIndex);
    // The output selected, 1..20.
    int Current() const { return fCurrent; }

private:
    void CreateSelectorRow();
    void Apply();
    void Defaults();
    // The calculator shows the durations the three fields give.
    void ShowDurations();
    // "Установить": the three parameters from the two entered durations; nothing is written.
    void FitDurations();

    TzPanelHost &fHost;
    TzOutputsModel &fOutputs;
    int fCurrent = 1;
    QFrame *fPanel = nullptr;
    QFrame *fCalculator = nullptr;
    // #1..#20; element 0 unused.
    std::array<QPushButton *, 21> fSelectors{};
    QLineEdit *fScale = nullptr;
    QLineEdit *fPeriod = nullptr;
    QLineEdit *fFill = nullptr;
    QCheckBox *fSafe = nullptr;
    QPushButton *fApply = nullptr;
    QPushButton *fDefault = nullptr;
    QLineEdit *fOn = nullptr;
    QLineEdit *fOff = nullptr;
    QPushButton *fSet = nullptr;
};
