#pragma once
// The bus on a serial line: a pseudo-terminal pair it creates (the panel opens the slave side)
// or a real device. Its own thread frames requests by the line's silence, hands them to the bus
// and writes the answers, as late as the faults say.

#include "sim/uSimSendQueue.h"
#include "sim/uSimTransport.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

// A line that keeps time on a pty, where bytes otherwise cross at once: every character takes its
// bit times (start, 8 data, parity, stop bits) at the speed the panel set, requests are heard at
// that pace, and an answer starts a turnaround after the request's frame gap and leaves one
// character at a time. Parity cannot be seen on a pty, so the format is given here.
struct TzSimPacing
{
    bool On = false;
    char Parity = 'N'; // 'N', 'O' or 'E'
    int StopBits = 1;
    int TurnaroundUs = 500; // from the end of the request's frame gap to the answer's first bit
};

class TzSimSerialServer : public TzSimTransport
{
public:
    using TzSimTransport::TzSimTransport;
    ~TzSimSerialServer() { Stop(); }

    // Creates a pty pair and serves it; the path the panel opens (/dev/pts/N), empty on failure.
    // With aStableLink, that symbolic link is pointed at the new pty and is the path returned: a
    // name that stays the same when the line is stopped (the link goes, as an unplugged
    // adapter's device does) and started again on a new pty.
    std::string StartPty(const std::string &aStableLink = {});
    // Serves a device at a speed and format (parity 'N', 'O' or 'E'; 1 or 2 stop bits).
    bool StartDevice(const std::string &aPath, int aBaudRate, char aParity, int aStopBits);
    void Stop();

    std::string Path() const { return fPath; }
    // The stable link of the pty, empty when none was asked for.
    std::string LinkPath() const { return fLink; }
    // On a pty, a module answers only when the speed the panel set matches its own (as on a real
    // line); off, every speed is heard.
    void SetCheckLineSpeed(bool aOn) { fCheckSpeed = aOn; }
    // Pacing on a pty (a real device paces itself); set before the line starts.
    void SetPacing(const TzSimPacing &aPacing) { fPacing = aPacing; }
    TzSimPacing Pacing() const { return fPacing; }
    // One character's time at a speed with the pacing format, in microseconds.
    int64_t CharUs(int aBaudRate) const;

private:
    struct TPending
    {
        TSimBytes Frame;
        std::string Note;
    };

    // An answer leaving the paced line, one character at a time from StartUs on.
    struct TPaced
    {
        TSimBytes Frame;
        std::string Note;
        int64_t StartUs = 0;
        size_t Written = 0;
    };

    void Run();
    void FrameComplete(TSimBytes aFrame);
    void WriteFrame(const TSimBytes &aFrame, const std::string &aNote);
    void WriteNow(const TSimBytes &aFrame, const std::string &aNote);
    bool Paced() const { return fPacing.On && fIsPty; }
    int CurrentBaudRate() const;
    // Writes the characters of paced answers that are due; the time of the next one, or -1.
    int64_t PumpPaced(int64_t aNowUs);
    TzSimLineParams LineParams() const;
    void FollowModuleSettings();
    void CloseAll();

    std::atomic<bool> fCheckSpeed{true};
    int fFd = -1;     // the side the simulator reads and writes
    int fHoldFd = -1; // the pty's slave side, held open so the master never sees a hang-up
    bool fIsPty = false;
    std::string fPath;
    std::string fLink;
    int fBaudRate = 9600;
    char fParity = 'N';
    int fStopBits = 1;
    TzSimSendQueue<TPending> fQueue; // touched by the server's thread only
    TzSimPacing fPacing;
    std::deque<TPaced> fPaced; // touched by the server's thread only
};
