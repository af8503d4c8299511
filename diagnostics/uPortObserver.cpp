#include "diagnostics/uPortObserver.h"

#include "common/uUtils.h"
#include "diagnostics/uPortObserverModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int StripTop = 8;
constexpr int StripHeight = 30;
constexpr int GridTopWithStrip = 46;
constexpr int GridTopWithoutStrip = 8;
constexpr int Margin = 8;
constexpr int PinRightGap = 10;

constexpr int LimitRows = 2000, LimitCut = 1000;      // automatic limit on
constexpr int NoLimitRows = 10000, NoLimitCut = 5000; // automatic limit off

const QStringList FunctionItems{QStringLiteral("01h  Read Coils"),
                                QStringLiteral("02h  Read Discrete Inputs"),
                                QStringLiteral("03h  Read Holding Registers"),
                                QStringLiteral("04h  Read Input Registers"),
                                QStringLiteral("05h  Write Single Coil"),
                                QStringLiteral("06h  Write Single Register")};

// The physical C key: Latin, or the Cyrillic letter the Russian layout puts on it.
bool IsCopyKey(const QKeyEvent *aEvent)
{
    constexpr int CyrillicEs = 0x0421;
    return (aEvent->modifiers() & Qt::ControlModifier) && (aEvent->key() == Qt::Key_C || aEvent->key() == CyrillicEs);
}

QPushButton *StripButton(QWidget *aParent, const char *aName, const QString &aText, const QString &aHint)
{
    auto *button = new QPushButton(aText, aParent);
    button->setObjectName(QString::fromLatin1(aName));
    if (!aHint.isEmpty()) {
        button->setToolTip(aHint);
        button->setAccessibleName(aHint);
    }
    return button;
}

} // namespace

// --- grid ---

TzObserverGrid::TzObserverGrid(QWidget *aParent) : QTableView(aParent)
{
    setObjectName(QStringLiteral("SG"));
    setAccessibleName(QStringLiteral("Запросы и ответы"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    // Tab leaves the grid for the window's controls; the arrows move between rows.
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    verticalScrollBar()->setTracking(true);
}

void TzObserverGrid::keyPressEvent(QKeyEvent *aEvent)
{
    // The row is copied when the keys are released; the view's own copy of one cell is not wanted.
    if (IsCopyKey(aEvent) || aEvent->matches(QKeySequence::Copy)) {
        aEvent->accept();
        return;
    }
    QTableView::keyPressEvent(aEvent);
}

void TzObserverGrid::keyReleaseEvent(QKeyEvent *aEvent)
{
    if (!aEvent->isAutoRepeat() && IsCopyKey(aEvent)) {
        aEvent->accept();
        emit copyRequested();
        return;
    }
    QTableView::keyReleaseEvent(aEvent);
}

// --- window ---

TfrmPortObserver::TfrmPortObserver(QWidget *aOwner)
    : QWidget(aOwner, Qt::Window | Qt::WindowStaysOnTopHint), fTick(&GetTickCount32),
      fNowMs(&QDateTime::currentMSecsSinceEpoch)
{
    setObjectName(QStringLiteral("frmPortObserver"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(380, 300);
    resize(934, 538);
    SetComPort(0);
    CreateControls();
    ConnectSignals();
    LayoutControls();
    SG->setCurrentIndex(Model->index(0, 0));
}

TfrmPortObserver::~TfrmPortObserver()
{
    PortObservers().removeAll(this);
}

void TfrmPortObserver::CreateControls()
{
    btnFilters = StripButton(this, "btnFilters", QStringLiteral("Фильтры"), QString());
    btnFilters->setCheckable(true);
    chFilters = new QCheckBox(btnFilters);
    chFilters->setObjectName(QStringLiteral("chFilters"));
    chFilters->setChecked(true);
    chFilters->setToolTip(QStringLiteral("Применять фильтры"));
    chFilters->setAccessibleName(QStringLiteral("Применять фильтры"));
    btnClear = StripButton(this, "btnClear", QStringLiteral("Очистить"), QString());
    btnPause = StripButton(this, "btnPause", QString(), QStringLiteral("Пауза"));
    btnPause->setCheckable(true);
    btnPause->setIcon(QIcon(QStringLiteral(":/diagnostics/pause.svg")));
    btnSave = StripButton(this, "btnSave", QStringLiteral("Сохранить"), QString());
    btnSave->setToolTip(QStringLiteral("Сохранить строки в файл CSV"));
    btnPin = StripButton(this, "btnPin", QString(), QStringLiteral("Закрепить панель"));
    btnPin->setCheckable(true);
    btnPin->setChecked(true);
    btnPin->setIcon(QIcon(QStringLiteral(":/diagnostics/pin.svg")));

    gbFilters = new QFrame(this);
    gbFilters->setObjectName(QStringLiteral("gbFilters"));
    gbFilters->setAccessibleName(QStringLiteral("Фильтры"));
    gbFilters->setFrameShape(QFrame::StyledPanel);
    gbFilters->setAutoFillBackground(true);
    auto *filterRow = new QHBoxLayout(gbFilters);

    auto *selection = new QGridLayout;
    chFilterFunc = new QCheckBox(QStringLiteral("Функция"), gbFilters);
    chFilterFunc->setObjectName(QStringLiteral("chFilterFunc"));
    cbFunc = new QComboBox(gbFilters);
    cbFunc->setObjectName(QStringLiteral("cbFunc"));
    cbFunc->addItems(FunctionItems);
    cbFunc->setCurrentIndex(0);
    cbFunc->setAccessibleName(QStringLiteral("Функция"));
    cbFunc->view()->setMinimumWidth(145);
    chFilterReg = new QCheckBox(QStringLiteral("Регистр"), gbFilters);
    chFilterReg->setObjectName(QStringLiteral("chFilterReg"));
    txtReg = new QSpinBox(gbFilters);
    txtReg->setObjectName(QStringLiteral("txtReg"));
    txtReg->setRange(0, 65535);
    txtReg->setAccessibleName(QStringLiteral("Регистр"));
    selection->addWidget(chFilterFunc, 0, 0);
    selection->addWidget(cbFunc, 0, 1);
    selection->addWidget(chFilterReg, 1, 0);
    selection->addWidget(txtReg, 1, 1);
    filterRow->addLayout(selection);

    grpView = new QGroupBox(QStringLiteral("Представление"), gbFilters);
    grpView->setObjectName(QStringLiteral("grpView"));
    auto *viewColumn = new QVBoxLayout(grpView);
    rbHex = new QRadioButton(QStringLiteral("Hex"), grpView);
    rbHex->setObjectName(QStringLiteral("rbHex"));
    rbHex->setChecked(true);
    rbDec = new QRadioButton(QStringLiteral("Dec"), grpView);
    rbDec->setObjectName(QStringLiteral("rbDec"));
    viewColumn->addWidget(rbHex);
    viewColumn->addWidget(rbDec);
    filterRow->addWidget(grpView);

    grpMode = new QGroupBox(QStringLiteral("Режим"), gbFilters);
    grpMode->setObjectName(QStringLiteral("grpMode"));
    auto *modeColumn = new QVBoxLayout(grpMode);
    rbStatica = new QRadioButton(QStringLiteral("Статический"), grpMode);
    rbStatica->setObjectName(QStringLiteral("rbStatica"));
    rbStatica->setChecked(true);
    rbDinamica = new QRadioButton(QStringLiteral("Динамический"), grpMode);
    rbDinamica->setObjectName(QStringLiteral("rbDinamica"));
    modeColumn->addWidget(rbStatica);
    modeColumn->addWidget(rbDinamica);
    filterRow->addWidget(grpMode);

    btnAutoLimit = new QPushButton(QStringLiteral("Автолимит"), gbFilters);
    btnAutoLimit->setObjectName(QStringLiteral("btnAutoLimit"));
    btnAutoLimit->setCheckable(true);
    btnAutoLimit->setChecked(true);
    btnAutoLimit->setToolTip(QStringLiteral("Держать не больше 2000 строк (без него 10000)"));
    filterRow->addWidget(btnAutoLimit, 0, Qt::AlignTop);
    gbFilters->adjustSize();
    gbFilters->hide();

    Model = new TzPortObserverModel(this);
    SG = new TzObserverGrid(this);
    SG->setModel(Model);
    for (int column = 0; column < ocColumnCount; ++column)
        SG->setColumnWidth(column, ObsColumnWidth(column));

    AutoClearTimer = new QTimer(this);
    AutoClearTimer->setObjectName(QStringLiteral("AutoClearTimer"));
    AutoClearTimer->setInterval(500);
    InterfaceTimer = new QTimer(this);
    InterfaceTimer->setObjectName(QStringLiteral("InterfaceTimer"));
    InterfaceTimer->setInterval(100);

    // The keyboard walks the strip, then the filter panel, then the grid.
    const QList<QWidget *> order{btnFilters,   chFilters,  btnClear,     btnPause, btnSave, btnPin,
                                 chFilterFunc, cbFunc,     chFilterReg,  txtReg,   rbHex,   rbDec,
                                 rbStatica,    rbDinamica, btnAutoLimit, SG};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TfrmPortObserver::ConnectSignals()
{
    connect(SG, &TzObserverGrid::copyRequested, this, [this] { CopySelectedRow(); });
    connect(btnClear, &QPushButton::clicked, this, &TfrmPortObserver::Clear);
    connect(btnSave, &QPushButton::clicked, this, &TfrmPortObserver::btnSaveClick);
    connect(btnFilters, &QPushButton::toggled, this, [this](bool aDown) {
        gbFilters->setVisible(aDown);
        if (aDown) {
            gbFilters->layout()->activate();
            gbFilters->adjustSize();
            gbFilters->raise();
        }
    });
    connect(rbHex, &QRadioButton::toggled, this, [this] { Model->SetHex(rbHex->isChecked()); });
    connect(rbStatica, &QRadioButton::toggled, this, [this](bool aOn) {
        if (aOn)
            Clear();
    });
    connect(chFilters, &QCheckBox::toggled, this, [this] {
        if (rbStatica->isChecked())
            Clear();
    });
    for (QCheckBox *filter : {chFilterFunc, chFilterReg})
        connect(filter, &QCheckBox::toggled, this, [this] {
            if (chFilterFunc->isChecked() || chFilterReg->isChecked())
                FiltersChanged();
        });
    connect(cbFunc, &QComboBox::currentIndexChanged, this, [this] {
        if (chFilterFunc->isChecked())
            FiltersChanged();
    });
    connect(txtReg, &QSpinBox::valueChanged, this, [this] {
        if (chFilterReg->isChecked())
            FiltersChanged();
    });
    connect(AutoClearTimer, &QTimer::timeout, this, &TfrmPortObserver::AutoClearTimerTimer);
    connect(InterfaceTimer, &QTimer::timeout, this, &TfrmPortObserver::InterfaceTimerTimer);
}

void TfrmPortObserver::FiltersChanged()
{
    if (rbStatica->isChecked() && chFilters->isChecked())
        Clear();
}

void TfrmPortObserver::LayoutControls()
{
    btnFilters->setGeometry(Margin, StripTop, 110, StripHeight);
    chFilters->setGeometry(6, (StripHeight - 18) / 2, 18, 18);
    btnClear->setGeometry(Margin + 114, StripTop, 90, StripHeight);
    btnPause->setGeometry(Margin + 208, StripTop, StripHeight, StripHeight);
    btnSave->setGeometry(Margin + 242, StripTop, 100, StripHeight);
    btnPin->setGeometry(width() - PinRightGap - StripHeight, StripTop, StripHeight, StripHeight);
    gbFilters->move(Margin, StripTop + StripHeight + 2);
    const int top = fStripVisible ? GridTopWithStrip : GridTopWithoutStrip;
    SG->setGeometry(Margin, top, std::max(0, width() - 2 * Margin), std::max(0, height() - top - Margin));
}

void TfrmPortObserver::resizeEvent(QResizeEvent *aEvent)
{
    QWidget::resizeEvent(aEvent);
    LayoutControls();
}

void TfrmPortObserver::SetComPort(int aComPort)
{
    fComPort = aComPort;
    setWindowTitle(QStringLiteral("Наблюдение за линией COM%1").arg(aComPort));
}

void TfrmPortObserver::SetLineName(const QString &aLineName)
{
    setWindowTitle(QStringLiteral("Наблюдение за линией ") + aLineName);
}

void TfrmPortObserver::SetClocks(std::function<uint32_t()> aTick, std::function<qint64()> aNowMs)
{
    if (aTick)
        fTick = std::move(aTick);
    if (aNowMs)
        fNowMs = std::move(aNowMs);
}

bool TfrmPortObserver::PassesFilters(const TzPortObsRec &aRec) const
{
    if (!chFilters->isChecked())
        return true;
    if (chFilterFunc->isChecked() && cbFunc->currentIndex() + 1 != aRec.Func)
        return false;
    if (chFilterReg->isChecked() && txtReg->value() != aRec.Reg)
        return false;
    return true;
}

void TfrmPortObserver::AddRequest(const TzPortObsRec &aRec)
{
    if (btnPause->isChecked() || !PassesFilters(aRec))
        return;
    const bool statica = rbStatica->isChecked();
    const QModelIndex current = SG->currentIndex();
    const bool followLast = current.isValid() && current.row() == Model->rowCount() - 1;

    int row = statica ? Model->FindRegRow(aRec.Reg) : -1;
    if (row < 0)
        row = Model->NewRow();
    Model->EnterRequest(row, aRec, fNowMs(), fTick());

    if (!statica && followLast && row != current.row()) {
        SG->selectionModel()->setCurrentIndex(Model->index(row, 0),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        SG->scrollTo(Model->index(row, 0));
    }
}

void TfrmPortObserver::AddAnswer(const TzPortObsRec &aRec)
{
    const int row = Model->FindIndexRow(aRec.Index);
    if (row < 0)
        return;
    TzPortObsRec answer = aRec;
    // A later announcement of the same answer may carry only a value; the bytes shown stay.
    if (answer.Cmd.isEmpty())
        answer.Cmd = Model->RowAnswer(row);
    const QString text = Model->EnterAnswer(row, answer, fTick());
    const int width = SG->fontMetrics().horizontalAdvance(text) + 10;
    if (SG->columnWidth(ocAnswer) < width)
        SG->setColumnWidth(ocAnswer, width);
}

void TfrmPortObserver::Clear()
{
    btnClear->setDown(false);
    if (Removing)
        return;
    Removing = true;
    Model->Clear();
    SG->setCurrentIndex(Model->index(0, 0));
    Removing = false;
}

void TfrmPortObserver::AutoClearTimerTimer()
{
    if (Removing)
        return;
    const bool limited = btnAutoLimit->isChecked();
    const int limit = limited ? LimitRows : NoLimitRows;
    const int cut = limited ? LimitCut : NoLimitCut;
    // The limit counts the header row, as the operator sees the grid.
    if (Model->rowCount() + 1 <= limit)
        return;
    Removing = true;
    Model->RemoveOldest(cut);
    Removing = false;
}

bool TfrmPortObserver::StripHasFocus() const
{
    const QWidget *focus = QApplication::focusWidget();
    if (!focus || focus == SG)
        return false;
    return isAncestorOf(focus) && !SG->isAncestorOf(focus);
}

void TfrmPortObserver::SetStripVisible(bool aVisible)
{
    if (fStripVisible == aVisible)
        return;
    fStripVisible = aVisible;
    if (!aVisible) {
        gbFilters->hide();
        btnFilters->setChecked(false);
    }
    for (QWidget *control :
         std::initializer_list<QWidget *>{btnFilters, btnClear, btnPause, btnSave, chFilters, btnPin})
        control->setVisible(aVisible);
    LayoutControls();
}

void TfrmPortObserver::InterfaceTimerTimer()
{
    if (btnPin->isChecked()) {
        SetStripVisible(true);
        return;
    }
    // The strip stays while the pointer is over the window or the keyboard works in it.
    SetStripVisible(frameGeometry().contains(QCursor::pos()) || StripHasFocus());
}

bool TfrmPortObserver::focusNextPrevChild(bool aNext)
{
    // Tab brings a hidden strip back, so every control stays reachable from the keyboard.
    if (!fStripVisible)
        SetStripVisible(true);
    return QWidget::focusNextPrevChild(aNext);
}

QString TfrmPortObserver::CopySelectedRow()
{
    const QModelIndex current = SG->currentIndex();
    const QString text = Model->RowCopyText(current.isValid() ? current.row() : -1);
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(text);
    return text;
}

bool TfrmPortObserver::SaveToCsv(const QString &aFileName, QString *aError)
{
    QSaveFile file(aFileName);
    // The byte order mark lets spreadsheets recognise UTF-8 and show the Cyrillic texts.
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + Model->CsvText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (aError)
            *aError = file.errorString();
        return false;
    }
    return true;
}

void TfrmPortObserver::btnSaveClick()
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Сохранить"), QDir::homePath(),
                                   QStringLiteral("Таблица CSV (*.csv)"));
    dialog->setObjectName(QStringLiteral("dlgSave"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->selectFile(QStringLiteral("obmen_%1.csv")
                           .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"))));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &aFileName) {
        QString error;
        if (SaveToCsv(aFileName, &error))
            return;
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Уведомление"),
                                    QStringLiteral("Не удалось сохранить файл %1: %2").arg(aFileName, error),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    dialog->open();
}

void TfrmPortObserver::closeEvent(QCloseEvent *aEvent)
{
    // A closed observer receives nothing more; its rows are released with it.
    PortObservers().removeAll(this);
    QWidget::closeEvent(aEvent);
}

void TfrmPortObserver::showEvent(QShowEvent *aEvent)
{
    QWidget::showEvent(aEvent);
    AutoClearTimer->start();
    InterfaceTimer->start();
}

void TfrmPortObserver::hideEvent(QHideEvent *aEvent)
{
    AutoClearTimer->stop();
    InterfaceTimer->stop();
    QWidget::hideEvent(aEvent);
}

// --- the list of open observers ---

QList<TfrmPortObserver *> &PortObservers()
{
    static QList<TfrmPortObserver *> observers;
    return observers;
}

TfrmPortObserver *CreatePortObserver(QWidget *aOwner)
{
    auto *observer = new TfrmPortObserver(aOwner);
    PortObservers().append(observer);
    return observer;
}

void ObserversAddRequest(const TzPortObsRec &aRec)
{
    // A copy, so an observer that closes during the announcement does not disturb the walk.
    const QList<TfrmPortObserver *> observers = PortObservers();
    for (TfrmPortObserver *observer : observers)
        if (PortObservers().contains(observer))
            observer->AddRequest(aRec);
}

void ObserversAddAnswer(const TzPortObsRec &aRec)
{
    const QList<TfrmPortObserver *> observers = PortObservers();
    for (TfrmPortObserver *observer : observers)
        if (PortObservers().contains(observer))
            observer->AddAnswer(aRec);
}
