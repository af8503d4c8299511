// The port observer fed by direct announcements: modes, filters, pause, notations, the elapsed
// time, the automatic limit, clearing, Ctrl+C, CSV, several windows, the control strip and the
// keyboard.

#include "diagnostics/uPortObserver.h"
#include "diagnostics/uPortObserverModel.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray ReadFrame = QByteArray::fromHex("01031000000180CA");
const QByteArray ReadAnswer = QByteArray::fromHex("0103020001");
const QByteArray CoilWrite = QByteArray::fromHex("10051000FF00");

TzPortObsRec Request(int aIndex, int aFunc, int aReg, const QByteArray &aCmd = ReadFrame,
                     const QString &aName = QStringLiteral("Реле #1"))
{
    TzPortObsRec rec;
    rec.Index = aIndex;
    rec.Func = aFunc;
    rec.Reg = aReg;
    rec.Cmd = aCmd;
    rec.Name = aName;
    return rec;
}

TzPortObsRec Answer(int aIndex, const QByteArray &aCmd = ReadAnswer, const QString &aValue = QString())
{
    TzPortObsRec rec;
    rec.Index = aIndex;
    rec.Cmd = aCmd;
    rec.Value = aValue;
    return rec;
}

QStringList Column(const TfrmPortObserver &aObserver, int aColumn)
{
    QStringList texts;
    for (int row = 0; row < aObserver.Model->rowCount(); ++row)
        texts << aObserver.Model->CellText(row, aColumn);
    return texts;
}

int DataRows(const TfrmPortObserver &aObserver)
{
    return aObserver.Model->IsCleared() ? 0 : aObserver.Model->rowCount();
}

// Splits one CSV text with ";" and quoted fields into rows of fields.
QList<QStringList> ParseCsv(const QString &aText)
{
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const QChar c = aText[i];
        if (quoted) {
            if (c == '"' && i + 1 < aText.size() && aText[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            fields << field;
            field.clear();
        } else if (c == '\r' && i + 1 < aText.size() && aText[i + 1] == '\n') {
            fields << field;
            rows << fields;
            fields.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

// Clicks a check box or radio button on its indicator, where the operator clicks.
void ClickOption(QAbstractButton *aOption)
{
    QTest::mouseClick(aOption, Qt::LeftButton, {}, QPoint(8, aOption->height() / 2));
}

} // namespace

class TestPortObserver : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void captionNamesTheLine();
    void columnsAndHeaders();
    void staticModeKeepsOneRowPerRegister();
    void dynamicModeFollowsTheLastRowOnlyWhenSelected();
    void filters_data();
    void filters();
    void pauseDropsRequestsButAnswersComplete();
    void notationsSwitchBothByteColumns();
    void laterAnnouncementsOverwriteTheValueOnly();
    void elapsedIsTheRoundTrip_data();
    void elapsedIsTheRoundTrip();
    void automaticLimit();
    void limitOffKeepsTenThousandRows();
    void clearingTriggers_data();
    void clearingTriggers();
    void ctrlCOverAnEmptyGrid();
    void ctrlCCopiesTheSelectedRowOnRelease();
    void csvReadsBackTheRowsShown();
    void saveButtonAsksForAFile();
    void saveToAnUnwritablePlaceFails();
    void everyOpenObserverReceivesEveryEntry();
    void closingTheOwnerWithObserversOpenIsClean();
    void controlStripFollowsThePointer();
    void keyboardReachesEveryControl();

private:
    TfrmPortObserver *Open();

    QWidget *fOwner = nullptr;
    uint32_t fTick = 1000;
};

void TestPortObserver::init()
{
    fOwner = new QWidget;
    fTick = 1000;
}

void TestPortObserver::cleanup()
{
    delete fOwner;
    fOwner = nullptr;
    QVERIFY(PortObservers().isEmpty());
}

TfrmPortObserver *TestPortObserver::Open()
{
    TfrmPortObserver *observer = CreatePortObserver(fOwner);
    observer->SetClocks([this] { return fTick; }, nullptr);
    observer->show();
    return observer;
}

void TestPortObserver::captionNamesTheLine()
{
    TfrmPortObserver *observer = Open();
    observer->SetComPort(12);
    QCOMPARE(observer->ComPort(), 12);
    QCOMPARE(observer->windowTitle(), QStringLiteral("Наблюдение за линией COM12"));
    observer->SetLineName(QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(observer->windowTitle(), QStringLiteral("Наблюдение за линией /dev/ttyUSB0"));
    QVERIFY(observer->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(observer->minimumSize(), QSize(380, 300));
    QCOMPARE(observer->size(), QSize(934, 538));
}

void TestPortObserver::columnsAndHeaders()
{
    TfrmPortObserver *observer = Open();
    const QStringList headers{"##", "Время", "Регистр", "Ф-ция", "Таймаут", "Значение", "Название", "Запрос", "Ответ"};
    const QList<int> widths{35, 120, 90, 40, 55, 60, 200, 140, 140};
    for (int column = 0; column < 9; ++column) {
        QCOMPARE(observer->Model->headerData(column, Qt::Horizontal).toString(), headers[column]);
        QCOMPARE(observer->SG->columnWidth(column), widths[column]);
    }
    QCOMPARE(observer->cbFunc->count(), 6);
    QCOMPARE(observer->cbFunc->itemText(2), QStringLiteral("03h  Read Holding Registers"));
    QCOMPARE(observer->cbFunc->itemText(5), QStringLiteral("06h  Write Single Register"));

    const qint64 now = QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)).toMSecsSinceEpoch();
    observer->SetClocks(nullptr, [now] { return now; });
    observer->AddRequest(Request(17, 5, 4096, CoilWrite, QStringLiteral("Реле #1")));
    QCOMPARE(observer->Model->CellText(0, ocIndex), QStringLiteral("17"));
    QCOMPARE(observer->Model->CellText(0, ocTime), QStringLiteral("05.03.2024 07:08:09"));
    QCOMPARE(observer->Model->CellText(0, ocReg), QStringLiteral("4096 (0x1000)"));
    QCOMPARE(observer->Model->CellText(0, ocFunc), QStringLiteral("05h"));
    QCOMPARE(observer->Model->CellText(0, ocName), QStringLiteral("Реле #1"));
    QCOMPARE(observer->Model->CellText(0, ocRequest), QStringLiteral("10.05.10.00.FF.00"));
    QCOMPARE(ObsRegisterText(0), QStringLiteral("0 (0x0)"));
    QCOMPARE(ObsRegisterText(65535), QStringLiteral("65535 (0xFFFF)"));
    QCOMPARE(ObsFunctionText(16), QStringLiteral("10h"));

    // A long answer widens its column to the text and 10 pixels.
    const QByteArray longAnswer(65, '\x7F');
    observer->AddAnswer(Answer(17, longAnswer));
    const int needed = observer->SG->fontMetrics().horizontalAdvance(ObsBytesText(longAnswer, true)) + 10;
    QCOMPARE(observer->SG->columnWidth(ocAnswer), needed);
}

void TestPortObserver::staticModeKeepsOneRowPerRegister()
{
    TfrmPortObserver *observer = Open();
    QVERIFY(observer->rbStatica->isChecked());
    observer->AddRequest(Request(1, 3, 4096));
    observer->AddAnswer(Answer(1, ReadAnswer, QStringLiteral("1")));
    observer->AddRequest(Request(2, 3, 4099));
    fTick += 40;
    observer->AddRequest(Request(3, 3, 4096));
    QCOMPARE(DataRows(*observer), 2);
    QCOMPARE(Column(*observer, ocIndex), (QStringList{"3", "2"}));
    // The reused row keeps its value and answer until the new answer arrives.
    QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("1"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.00.01"));
    // The old number has no row any more; its late answer is dropped.
    observer->AddAnswer(Answer(1, ReadAnswer, QStringLiteral("9")));
    QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("1"));
    fTick += 25;
    observer->AddAnswer(Answer(3, QByteArray::fromHex("0103020000"), QStringLiteral("0")));
    QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("0"));
    QCOMPARE(observer->Model->CellText(0, ocTimeout), QStringLiteral("25 мс"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.00.00"));
    QCOMPARE(DataRows(*observer), 2);
}

void TestPortObserver::dynamicModeFollowsTheLastRowOnlyWhenSelected()
{
    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    for (int i = 1; i <= 3; ++i)
        observer->AddRequest(Request(i, 3, 4096));
    QCOMPARE(DataRows(*observer), 3);
    QCOMPARE(observer->SG->currentIndex().row(), 2);
    QVERIFY(observer->SG->selectionModel()->isRowSelected(2, QModelIndex()));

    // The operator looks at an older row: it stays selected.
    QTest::mouseClick(observer->SG->viewport(), Qt::LeftButton, {},
                      observer->SG->visualRect(observer->Model->index(0, 1)).center());
    QCOMPARE(observer->SG->currentIndex().row(), 0);
    observer->AddRequest(Request(4, 3, 4096));
    QCOMPARE(observer->SG->currentIndex().row(), 0);
    QCOMPARE(DataRows(*observer), 4);

    // Back on the last row (End key), the newest rows are followed again.
    observer->SG->setFocus();
    QTest::keyClick(observer->SG, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(observer->SG->currentIndex().row(), 3);
    observer->AddRequest(Request(5, 3, 4096));
    QCOMPARE(observer->SG->currentIndex().row(), 4);
}

void TestPortObserver::filters_data()
{
    QTest::addColumn<bool>("filtersOn");
    QTest::addColumn<bool>("byFunction");
    QTest::addColumn<int>("functionItem");
    QTest::addColumn<bool>("byRegister");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("entered"); // the functions entered of: 03h 4096, 05h 4096, 03h 60016

    QTest::newRow("no filter") << true << false << 0 << false << 0 << "03h 05h 03h";
    QTest::newRow("function 03h") << true << true << 2 << false << 0 << "03h 03h";
    QTest::newRow("function 05h") << true << true << 4 << false << 0 << "05h";
    QTest::newRow("register 4096") << true << false << 0 << true << 4096 << "03h 05h";
    QTest::newRow("both") << true << true << 2 << true << 60016 << "03h";
    QTest::newRow("filters off") << false << true << 2 << true << 60016 << "03h 05h 03h";
}

void TestPortObserver::filters()
{
    QFETCH(bool, filtersOn);
    QFETCH(bool, byFunction);
    QFETCH(int, functionItem);
    QFETCH(bool, byRegister);
    QFETCH(int, reg);
    QFETCH(QString, entered);

    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    observer->chFilterFunc->setChecked(byFunction);
    observer->cbFunc->setCurrentIndex(functionItem);
    observer->chFilterReg->setChecked(byRegister);
    observer->txtReg->setValue(reg);
    observer->chFilters->setChecked(filtersOn);

    observer->AddRequest(Request(1, 3, 4096));
    observer->AddRequest(Request(2, 5, 4096, CoilWrite));
    observer->AddRequest(Request(3, 3, 60016));
    for (int i = 1; i <= 3; ++i)
        observer->AddAnswer(Answer(i, ReadAnswer, QStringLiteral("v%1").arg(i)));
    QStringList functions = Column(*observer, ocFunc);
    functions.removeAll(QString());
    QCOMPARE(functions.join(' '), entered);
    // Answers of requests that were not entered find no row; those entered are completed.
    for (int row = 0; row < DataRows(*observer); ++row)
        QCOMPARE(observer->Model->CellText(row, ocValue),
                 QStringLiteral("v") + observer->Model->CellText(row, ocIndex));
}

void TestPortObserver::pauseDropsRequestsButAnswersComplete()
{
    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    observer->AddRequest(Request(1, 3, 60016));
    QTest::mouseClick(observer->btnPause, Qt::LeftButton);
    QVERIFY(observer->btnPause->isChecked());
    observer->AddRequest(Request(2, 3, 60015));
    observer->AddAnswer(Answer(2, ReadAnswer, QStringLiteral("2")));
    observer->AddAnswer(Answer(1, ReadAnswer, QStringLiteral("1")));
    QCOMPARE(DataRows(*observer), 1);
    QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("1"));
    QTest::mouseClick(observer->btnPause, Qt::LeftButton);
    observer->AddRequest(Request(3, 3, 60015));
    QCOMPARE(Column(*observer, ocIndex), (QStringList{"1", "3"}));
}

void TestPortObserver::notationsSwitchBothByteColumns()
{
    TfrmPortObserver *observer = Open();
    observer->AddRequest(Request(1, 3, 4096));
    observer->AddAnswer(Answer(1, QByteArray::fromHex("0103020A80B9F4")));
    QCOMPARE(observer->Model->CellText(0, ocRequest), QStringLiteral("01.03.10.00.00.01.80.CA"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.0A.80.B9.F4"));
    observer->btnFilters->click();
    QVERIFY(observer->gbFilters->isVisible());
    ClickOption(observer->rbDec);
    QCOMPARE(observer->Model->CellText(0, ocRequest), QStringLiteral("01.03.16.00.00.01.128.202"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.10.128.185.244"));
    // New rows come in the chosen notation too.
    observer->rbDinamica->click();
    observer->AddRequest(Request(2, 5, 4096, CoilWrite));
    QCOMPARE(observer->Model->CellText(1, ocRequest), QStringLiteral("16.05.16.00.255.00"));
    ClickOption(observer->rbHex);
    QCOMPARE(observer->Model->CellText(1, ocRequest), QStringLiteral("10.05.10.00.FF.00"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.0A.80.B9.F4"));
}

void TestPortObserver::laterAnnouncementsOverwriteTheValueOnly()
{
    TfrmPortObserver *observer = Open();
    observer->AddRequest(Request(5, 3, 60016));
    // As the panel announces one answer: the bytes, the number, the display text.
    observer->AddAnswer(Answer(5, ReadAnswer));
    QCOMPARE(observer->Model->CellText(0, ocValue), QString());
    observer->AddAnswer(Answer(5, ReadAnswer, QStringLiteral("1")));
    observer->AddAnswer(Answer(5, QByteArray(), QStringLiteral("ErrCode: Недопустимый адрес")));
    QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("ErrCode: Недопустимый адрес"));
    QCOMPARE(observer->Model->CellText(0, ocAnswer), QStringLiteral("01.03.02.00.01"));
}

void TestPortObserver::elapsedIsTheRoundTrip_data()
{
    QTest::addColumn<uint>("sent");
    QTest::addColumn<uint>("answered");
    QTest::addColumn<QString>("shown");
    QTest::newRow("120 ms") << 1000u << 1120u << "120 мс";
    QTest::newRow("at once") << 5u << 5u << "0 мс";
    QTest::newRow("across the counter's wrap") << 0xFFFFFF00u << 0x20u << "288 мс";
}

void TestPortObserver::elapsedIsTheRoundTrip()
{
    QFETCH(uint, sent);
    QFETCH(uint, answered);
    QFETCH(QString, shown);
    TfrmPortObserver *observer = Open();
    fTick = sent;
    observer->AddRequest(Request(1, 3, 60016));
    fTick = answered;
    observer->AddAnswer(Answer(1));
    QCOMPARE(observer->Model->CellText(0, ocTimeout), shown);
}

void TestPortObserver::automaticLimit()
{
    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    QVERIFY(observer->btnAutoLimit->isChecked());
    QVERIFY(observer->AutoClearTimer->isActive());
    QCOMPARE(observer->AutoClearTimer->interval(), 500);
    for (int i = 1; i <= 1999; ++i)
        observer->AddRequest(Request(i, 3, 60016));
    observer->AutoClearTimerTimer();
    QCOMPARE(DataRows(*observer), 1999);

    observer->AddRequest(Request(2000, 3, 60016));
    QCOMPARE(DataRows(*observer), 2000);
    // The running timer cuts the oldest 1000 on its next beat.
    QTRY_COMPARE_WITH_TIMEOUT(DataRows(*observer), 1000, 5000);
    QCOMPARE(observer->Model->CellText(0, ocIndex), QStringLiteral("1001"));
    QCOMPARE(observer->Model->CellText(999, ocIndex), QStringLiteral("2000"));
    // The newest row is still followed.
    QCOMPARE(observer->SG->currentIndex().row(), 999);
    observer->AddRequest(Request(2001, 3, 60016));
    QCOMPARE(observer->SG->currentIndex().row(), 1000);
}

void TestPortObserver::limitOffKeepsTenThousandRows()
{
    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    observer->btnFilters->click();
    QTest::mouseClick(observer->btnAutoLimit, Qt::LeftButton);
    QVERIFY(!observer->btnAutoLimit->isChecked());
    for (int i = 1; i <= 9999; ++i)
        observer->AddRequest(Request(i, 3, 60016));
    observer->AutoClearTimerTimer();
    QCOMPARE(DataRows(*observer), 9999);
    observer->AddRequest(Request(10000, 3, 60016));
    observer->AutoClearTimerTimer();
    QCOMPARE(DataRows(*observer), 5000);
    QCOMPARE(observer->Model->CellText(0, ocIndex), QStringLiteral("5001"));
}

void TestPortObserver::clearingTriggers_data()
{
    QTest::addColumn<bool>("statica");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("cleared");

    QTest::newRow("clear button") << false << "" << "clear" << true;
    QTest::newRow("choosing static mode") << false << "" << "static" << true;
    QTest::newRow("filters ticked, static") << true << "" << "filters" << true;
    QTest::newRow("filters ticked, dynamic") << false << "" << "filters" << false;
    QTest::newRow("function filter, static") << true << "" << "funcFilter" << true;
    QTest::newRow("function filter, filters off") << true << "filtersOff" << "funcFilter" << false;
    QTest::newRow("function changed while filtering") << true << "funcFilterOn" << "function" << true;
    QTest::newRow("function changed, not filtering") << true << "" << "function" << false;
    QTest::newRow("register changed while filtering") << true << "regFilterOn" << "register" << true;
    QTest::newRow("register changed, not filtering") << true << "" << "register" << false;
    QTest::newRow("notation switch") << true << "" << "dec" << false;
}

void TestPortObserver::clearingTriggers()
{
    QFETCH(bool, statica);
    QFETCH(QString, setup);
    QFETCH(QString, action);
    QFETCH(bool, cleared);

    TfrmPortObserver *observer = Open();
    observer->btnFilters->click();
    if (!statica)
        observer->rbDinamica->click();
    if (setup == "filtersOff")
        observer->chFilters->setChecked(false);
    if (setup == "funcFilterOn") {
        observer->cbFunc->setCurrentIndex(2);
        observer->chFilterFunc->setChecked(true);
    }
    if (setup == "regFilterOn") {
        observer->txtReg->setValue(4096);
        observer->chFilterReg->setChecked(true);
    }
    observer->AddRequest(Request(1, 3, 4096));
    observer->AddRequest(Request(2, 3, 60016));
    const int before = DataRows(*observer);
    QVERIFY(before > 0);

    if (action == "clear")
        QTest::mouseClick(observer->btnClear, Qt::LeftButton);
    else if (action == "static")
        ClickOption(observer->rbStatica);
    else if (action == "filters")
        observer->chFilters->click();
    else if (action == "funcFilter")
        ClickOption(observer->chFilterFunc);
    else if (action == "function")
        observer->cbFunc->setCurrentIndex(4);
    else if (action == "register")
        observer->txtReg->setValue(60016);
    else if (action == "dec")
        ClickOption(observer->rbDec);

    QCOMPARE(DataRows(*observer), cleared ? 0 : before);
    if (cleared) {
        // A cleared grid holds one empty row, and the next request lands in it.
        QCOMPARE(observer->Model->rowCount(), 1);
        observer->chFilters->setChecked(false);
        observer->AddRequest(Request(7, 5, 4096, CoilWrite));
        QCOMPARE(observer->Model->rowCount(), 1);
        QCOMPARE(observer->Model->CellText(0, ocIndex), QStringLiteral("7"));
    }
}

void TestPortObserver::ctrlCOverAnEmptyGrid()
{
    TfrmPortObserver *observer = Open();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    observer->SG->setFocus();
    QTest::keyClick(observer->SG, Qt::Key_C, Qt::ControlModifier);
    const QString expected = QStringLiteral("##: \r\nВремя: \r\nРегистр: \r\nФ-ция: \r\nТаймаут: \r\nЗначение: \r\n"
                                            "Название: \r\nЗапрос: \r\nОтвет: ");
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    QCOMPARE(expected.split(QStringLiteral("\r\n")).size(), 9);
}

void TestPortObserver::ctrlCCopiesTheSelectedRowOnRelease()
{
    TfrmPortObserver *observer = Open();
    const qint64 now = QDateTime(QDate(2024, 12, 31), QTime(23, 59, 58)).toMSecsSinceEpoch();
    observer->SetClocks(nullptr, [now] { return now; });
    observer->rbDinamica->click();
    observer->AddRequest(Request(41, 3, 60016, ReadFrame, QStringLiteral("DOUT 1-16")));
    fTick += 7;
    observer->AddAnswer(Answer(41, ReadAnswer, QStringLiteral("1")));
    observer->AddRequest(Request(42, 5, 4096, CoilWrite));
    QTest::mouseClick(observer->SG->viewport(), Qt::LeftButton, {},
                      observer->SG->visualRect(observer->Model->index(0, 4)).center());

    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    observer->SG->setFocus();
    QTest::keyPress(observer->SG, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QTest::keyRelease(observer->SG, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("##: 41\r\nВремя: 31.12.2024 23:59:58\r\nРегистр: 60016 (0xEA70)\r\nФ-ция: 03h\r\n"
                            "Таймаут: 7 мс\r\nЗначение: 1\r\nНазвание: DOUT 1-16\r\nЗапрос: 01.03.10.00.00.01.80.CA\r\n"
                            "Ответ: 01.03.02.00.01"));
}

void TestPortObserver::csvReadsBackTheRowsShown()
{
    TfrmPortObserver *observer = Open();
    observer->rbDinamica->click();
    observer->btnFilters->click();
    observer->chFilterFunc->setChecked(true);
    observer->cbFunc->setCurrentIndex(2);
    observer->AddRequest(Request(1, 3, 60016, ReadFrame, QStringLiteral("Состояние; выходы \"1-16\"")));
    observer->AddRequest(Request(2, 5, 4096, CoilWrite)); // filtered out
    observer->AddRequest(Request(3, 3, 60015));
    observer->AddRequest(Request(4, 3, 28672));
    observer->AddAnswer(Answer(1, ReadAnswer, QStringLiteral("1")));
    observer->AddAnswer(Answer(3, ReadAnswer, QStringLiteral("ErrCode: Недопустимый адрес")));
    QCOMPARE(DataRows(*observer), 3);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("обмен.csv"));
    QVERIFY(observer->SaveToCsv(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> rows = ParseCsv(QString::fromUtf8(bytes.mid(3)));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0], ObsHeaders());
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < ocColumnCount; ++column)
            QCOMPARE(rows[row + 1][column], observer->Model->CellText(row, column));
    QCOMPARE(rows[1][ocName], QStringLiteral("Состояние; выходы \"1-16\""));
    QCOMPARE(rows[2][ocValue], QStringLiteral("ErrCode: Недопустимый адрес"));
}

void TestPortObserver::saveButtonAsksForAFile()
{
    TfrmPortObserver *observer = Open();
    observer->AddRequest(Request(1, 3, 60016));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rows.csv"));
    QTest::mouseClick(observer->btnSave, Qt::LeftButton);
    QFileDialog *dialog = observer->findChild<QFileDialog *>(QStringLiteral("dlgSave"));
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->isVisible());
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept(); // the operator presses "Save"
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(ParseCsv(QString::fromUtf8(file.readAll().mid(3))).size(), 2);
}

void TestPortObserver::saveToAnUnwritablePlaceFails()
{
    TfrmPortObserver *observer = Open();
    observer->AddRequest(Request(1, 3, 60016));
    QTemporaryDir dir;
    QString error;
    QVERIFY(!observer->SaveToCsv(dir.filePath(QStringLiteral("missing/folder/rows.csv")), &error));
    QVERIFY(!error.isEmpty());
}

void TestPortObserver::everyOpenObserverReceivesEveryEntry()
{
    TfrmPortObserver *first = Open();
    QPointer<TfrmPortObserver> second = Open();
    QVERIFY(PortObservers() == (QList<TfrmPortObserver *>{first, second}));
    for (TfrmPortObserver *observer : {first, second.data()})
        observer->rbDinamica->click();
    ObserversAddRequest(Request(1, 3, 60016));
    ObserversAddAnswer(Answer(1, ReadAnswer, QStringLiteral("1")));
    for (TfrmPortObserver *observer : {first, second.data()}) {
        QCOMPARE(DataRows(*observer), 1);
        QCOMPARE(observer->Model->CellText(0, ocValue), QStringLiteral("1"));
    }

    second->close();
    QVERIFY(PortObservers() == (QList<TfrmPortObserver *>{first}));
    QTRY_VERIFY(second.isNull()); // a closed observer releases its rows
    ObserversAddRequest(Request(2, 3, 60015));
    ObserversAddAnswer(Answer(2, ReadAnswer, QStringLiteral("2")));
    QCOMPARE(DataRows(*first), 2);
    QCOMPARE(first->Model->CellText(1, ocValue), QStringLiteral("2"));
}

void TestPortObserver::closingTheOwnerWithObserversOpenIsClean()
{
    QPointer<TfrmPortObserver> first = Open();
    QPointer<TfrmPortObserver> second = Open();
    ObserversAddRequest(Request(1, 3, 60016));
    delete fOwner;
    fOwner = nullptr;
    QVERIFY(first.isNull() && second.isNull());
    QVERIFY(PortObservers().isEmpty());
    ObserversAddRequest(Request(2, 3, 60016));
    ObserversAddAnswer(Answer(2));
}

void TestPortObserver::controlStripFollowsThePointer()
{
    TfrmPortObserver *observer = Open();
    QVERIFY(QTest::qWaitForWindowExposed(observer));
    QVERIFY(observer->btnPin->isChecked());
    QCOMPARE(observer->SG->y(), 46);
    QCOMPARE(observer->btnPin->geometry().right() + 1, observer->width() - 10);

    QCursor::setPos(observer->frameGeometry().bottomRight() + QPoint(50, 50));
    observer->InterfaceTimerTimer();
    QVERIFY(observer->btnClear->isVisible()); // pinned: nothing changes

    observer->btnFilters->click();
    QVERIFY(observer->gbFilters->isVisible());
    QTest::mouseClick(observer->btnPin, Qt::LeftButton);
    observer->SG->setFocus();
    observer->InterfaceTimerTimer();
    QCOMPARE(observer->SG->y(), 8);
    for (QWidget *control :
         std::initializer_list<QWidget *>{observer->btnFilters, observer->btnClear, observer->btnPause,
                                          observer->chFilters, observer->btnPin, observer->gbFilters})
        QVERIFY2(!control->isVisible(), qPrintable(control->objectName()));
    QVERIFY(!observer->btnFilters->isChecked());

    QCursor::setPos(observer->frameGeometry().center());
    observer->InterfaceTimerTimer();
    QCOMPARE(observer->SG->y(), 46);
    QVERIFY(observer->btnPin->isVisible() && observer->btnClear->isVisible());
    QVERIFY(!observer->gbFilters->isVisible());

    observer->resize(500, 400);
    QCOMPARE(observer->btnPin->geometry().right() + 1, observer->width() - 10);
}

void TestPortObserver::keyboardReachesEveryControl()
{
    TfrmPortObserver *observer = Open();
    observer->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(observer));
    // Unpinned, with the pointer away: the strip is hidden, and Tab brings it back.
    observer->btnPin->setChecked(false);
    QCursor::setPos(observer->frameGeometry().bottomRight() + QPoint(50, 50));
    observer->SG->setFocus();
    observer->InterfaceTimerTimer();
    QVERIFY(!observer->btnClear->isVisible());

    QSet<QWidget *> reached;
    for (int i = 0; i < 40; ++i) {
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus);
        reached.insert(focus);
        observer->InterfaceTimerTimer();
        if (focus == observer->btnFilters && !observer->btnFilters->isChecked())
            QTest::keyClick(focus, Qt::Key_Space); // opens the filter panel
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    const QList<QWidget *> controls{observer->SG,          observer->btnFilters,   observer->chFilters,
                                    observer->btnClear,    observer->btnPause,     observer->btnSave,
                                    observer->btnPin,      observer->chFilterFunc, observer->cbFunc,
                                    observer->chFilterReg, observer->txtReg,       observer->btnAutoLimit};
    for (QWidget *control : controls) {
        QVERIFY2(reached.contains(control), qPrintable(control->objectName()));
        const auto *button = qobject_cast<QAbstractButton *>(control);
        const QString name = control->accessibleName().isEmpty() && button ? button->text() : control->accessibleName();
        QVERIFY2(!name.isEmpty(), qPrintable(control->objectName()));
    }
    // One radio button of each group holds the focus; the arrows choose within it.
    QVERIFY(reached.contains(observer->rbHex) || reached.contains(observer->rbDec));
    QVERIFY(reached.contains(observer->rbStatica) || reached.contains(observer->rbDinamica));

    // The keyboard works the controls: space toggles the pause.
    observer->btnPause->setFocus();
    QTest::keyClick(observer->btnPause, Qt::Key_Space);
    QVERIFY(observer->btnPause->isChecked());
}

QTEST_MAIN(TestPortObserver)
#include "tst_PortObserver.moc"
