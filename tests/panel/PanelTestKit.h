#pragma once
// What the panel's tests share: the simulated module on a pseudo-terminal or behind the simulated
// converter, the panel frame with its log window, the connection made through the panel's own
// controls as an operator makes it, and one reader of the simulator's frame log.
//
// Every question a test asks about the frame's inner state goes through here, so that when that
// state moves elsewhere only this kit changes.

#include "panel/uQuadrel.h"
#include "sim/uSimulator.h"

#include <QList>
#include <QObject>
#include <QPushButton>
#include <QSize>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TfrmTempLog;
class TzDevice;

// One request as the module received it: address, function, register, count or value.
struct TestRequest
{
    int Address = 0;
    int Function = 0;
    int Reg = 0;
    int Word = 0;

    TestRequest() = default;
    // All four always: a request written without its address would compare wrongly.
    TestRequest(int aAddress, int aFunction, int aReg, int aWord)
        : Address(aAddress), Function(aFunction), Reg(aReg), Word(aWord)
    {
    }
    bool operator==(const TestRequest &) const = default;
};

// A request with the time the module received it (monotonic milliseconds).
struct TestTimedRequest
{
    TestRequest Request;
    uint64_t TickMs = 0;
};

// The requests as "function:register:word", space-separated: what a failed comparison shows.
QString Describe(const QList<TestRequest> &aRequests);

// Reads the simulator's frame log. Positions count the frames the module received, so a count
// taken before an action (a mark) is where the requests of that action begin.
class TestFrameLog
{
public:
    static constexpr int AnyAddress = -1;

    explicit TestFrameLog(TzSimulator &aSim) : fSim(aSim) {}

    // How many frames the module has received, or sent, so far.
    size_t ReceivedCount() const;
    size_t SentCount() const;
    // The frames received from the mark on, whatever they hold.
    std::vector<TSimBytes> ReceivedFrames(size_t aFrom = 0) const;
    // The well-formed requests (eight bytes, a good checksum) received from the mark on, in
    // order; with aAddress only those to that address.
    QList<TestRequest> Requests(size_t aFrom = 0, int aAddress = AnyAddress) const;
    QList<TestTimedRequest> TimedRequests(size_t aFrom = 0, int aAddress = AnyAddress) const;
    // Of those, the writes only (functions 5 and 6); aFunction 5 or 6 takes that one only.
    QList<TestRequest> Writes(size_t aFrom = 0, int aAddress = AnyAddress, int aFunction = 0) const;
    // Every entry, both directions, with its channel ("serial", "udp ..."), and their number.
    std::vector<TzSimFrameLogEntry> Entries() const;
    size_t EntryCount() const;

private:
    TzSimulator &fSim;
};

// Every good value decoded into the watched tags, checked against its rule: a value the module
// never had there (an answer that landed in the wrong tag) is kept as "id = value".
class TestValueWatch
{
public:
    using TRule = std::function<bool(double)>;

    TestValueWatch(TzDevice &aDevice, const std::map<int, TRule> &aRules);
    // The tags' handlers hold this watch: it stays where it was made.
    TestValueWatch(const TestValueWatch &) = delete;
    TestValueWatch &operator=(const TestValueWatch &) = delete;
    // The rule "the module holds exactly this value in register aReg".
    static TRule ModuleHolds(TzSimulator &aSim, uint8_t aAddress, uint16_t aReg);

    int Decoded() const { return fDecoded; }
    QStringList Wrong() const { return fWrong; }

private:
    int fDecoded = 0;
    QStringList fWrong;
};

// What the tests ask about a panel frame, wherever the frame came from (the kit's own, or the
// one inside the main window).
namespace TestPanelState {
// The connection is up (the probe was answered).
bool IsConnected(const TfrQuadrel &aFrame);
// The first cycle is done and the periodic poll runs.
bool IsPolling(const TfrQuadrel &aFrame);
// The picture output aOutput shows ("dout_on", "dout_off", "dout_wait", ...).
QString OutputPicture(const TfrQuadrel &aFrame, int aOutput);
// The requests the panel is still waiting for.
int PendingAnswers(TfrQuadrel &aFrame);
// The values shown are marked stale.
bool ValuesStale(const TfrQuadrel &aFrame);
} // namespace TestPanelState

// How a test's frame is made: its size (none: as it comes), shown and exposed or not, silent
// (notices become log lines), and whether it sits in a main window as in the program.
struct TestPanelSetup
{
    QSize Size{800, 750};
    bool Show = true;
    bool Silent = false;
    bool InMainWindow = false;
};

// The panel on a simulated module: one test's simulator, log window and frame, made and ended
// together, with the settings emptied after each test.
class TestPanel
{
public:
    static constexpr uint8_t ModuleAddress = 16;

    using TSetup = TestPanelSetup;

    // aTimeoutMs: how long the waits of the connect routine may take.
    explicit TestPanel(int aTimeoutMs = 15000) : fTimeoutMs(aTimeoutMs) {}
    ~TestPanel();
    TestPanel(const TestPanel &) = delete;
    TestPanel &operator=(const TestPanel &) = delete;

    // A simulator with an empty bus; aModule adds the Quadrel at ModuleAddress.
    void StartSim(bool aModule = true);
    TzSimulator *Sim() const { return fSim.get(); }
    TestFrameLog FrameLog() const { return TestFrameLog(*fSim); }

    // The log window alone, before any frame (once).
    void CreateLog();
    // The log window (once), then the frame as set up; shown and exposed unless said otherwise.
    void Open(const TSetup &aSetup = {});
    // The frame alone, not shown yet: for what must be set before it shows.
    void CreateFrame(const TSetup &aSetup = {});
    // Shows the frame (or its main window) and waits until it is exposed.
    void Show();
    TfrmTempLog *Log() const { return fLog; }
    TfrQuadrel *Frame() const { return fFrame; }
    // The frame, or its main window when it sits in one.
    QWidget *Window() const;
    // Ends the frame (and its main window) only, as closing the program does.
    void DeleteFrame();
    // Ends the frame, the log window and the simulator; empties the settings folder.
    void Close();

    // A control of the frame by its object name, e.g. Control<QPushButton>("btnConnect").
    template <class T>
    T *Control(const QString &aName) const
    {
        T *control = fFrame ? fFrame->findChild<T *>(aName) : nullptr;
        // A control renamed or moved out of the frame ends the test here, with its name, rather
        // than with a null pointer somewhere further on.
        if (fFrame && !control)
            qFatal("The frame has no %s named \"%s\"", T::staticMetaObject.className(), qPrintable(aName));
        return control;
    }

    // A pseudo-terminal of the simulator (through aLink when given), put on top of the port list.
    void ChooseSerial(const std::string &aLink = {});
    // The simulated converter on 127.0.0.2 at a free port, its address and port typed into the
    // Ethernet page.
    void ChooseConverter();
    QString Path() const { return fPath; }
    uint16_t UdpPort() const { return fUdpPort; }
    // Clicks "Подключиться" (or "Отключиться").
    void ClickConnect();
    // Waits until connected (the log's first lines say why not), then until the first cycle is
    // done and the periodic poll runs.
    void WaitConnected();
    void WaitForPolling();
    // Chooses the line, clicks the connect button and waits for the poll.
    void ConnectSerial(const std::string &aLink = {});
    void ConnectConverter();

    // The frame's state, as TestPanelState tells it.
    bool IsConnected() const;
    bool IsPolling() const;
    QString OutputPicture(int aOutput) const;
    int PendingAnswers() const;
    bool ValuesStale() const;
    // The log's first aCount lines, for a failure message.
    QString RecentLog(int aCount = 5) const;

private:
    int fTimeoutMs;
    std::unique_ptr<TzSimulator> fSim;
    TfrmTempLog *fLog = nullptr;
    QWidget *fMain = nullptr;
    TfrQuadrel *fFrame = nullptr;
    QString fPath;
    uint16_t fUdpPort = 0;
};

// The base of a panel's test class: the test's fixture, and short names for what its tests use
// most. The fixture lives as long as the test object; each test makes and ends its panel in
// init() and cleanup().
class TestPanelCase : public QObject
{
protected:
    explicit TestPanelCase(int aTimeoutMs = 15000) : fPanel(aTimeoutMs) {}

    TzSimulator *Sim() const { return fPanel.Sim(); }
    TfrmTempLog *Log() const { return fPanel.Log(); }
    TfrQuadrel *Frame() const { return fPanel.Frame(); }
    // The screen refresh runs now, as its 500 ms timer runs it.
    void RefreshScreen() const
    {
        QVERIFY(QMetaObject::invokeMethod(Control<QTimer>(QStringLiteral("InterfaceTimer")), "timeout"));
    }
    // A control of the frame by its object name, e.g. Control<QLineEdit>("txtShimOn").
    template <class T>
    T *Control(const QString &aName) const
    {
        return fPanel.Control<T>(aName);
    }
    // The pulse-width panel's selector button of output aOutput ("#3").
    QPushButton *ShimButton(int aOutput) const
    {
        return fPanel.Control<QPushButton>(QStringLiteral("btnDOUT%1Pan").arg(aOutput));
    }

    TestPanel fPanel;
};
