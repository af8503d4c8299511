#pragma once
// The record of every frame the simulator received and sent, time-stamped: kept in memory for
// tests (a bounded list, oldest dropped first) and written as hex lines to a file for people.

#include "sim/uSimTypes.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

enum class TzSimDirection {
    Received,
    Sent,
};

struct TzSimFrameLogEntry
{
    std::chrono::system_clock::time_point WallTime;
    uint64_t TickMs = 0; // monotonic milliseconds
    TzSimDirection Direction = TzSimDirection::Received;
    std::string Channel; // "serial" or "udp 127.0.0.1:40000"
    TSimBytes Wrapper;   // the converter's header of a datagram; empty on a serial line
    TSimBytes Frame;     // the Modbus RTU frame exactly as it crossed the line
    std::string Note;    // what a fault did to it, or why it was dropped
};

class TzSimFrameLog
{
public:
    static constexpr size_t DefaultCapacity = 100000;

    TzSimFrameLog() = default;
    ~TzSimFrameLog();
    TzSimFrameLog(const TzSimFrameLog &) = delete;
    TzSimFrameLog &operator=(const TzSimFrameLog &) = delete;

    void Add(TzSimDirection aDirection, const std::string &aChannel, const TSimBytes &aFrame,
             const TSimBytes &aWrapper = {}, const std::string &aNote = {});

    std::vector<TzSimFrameLogEntry> Entries() const;
    // The frames only, in order, optionally of one direction.
    std::vector<TSimBytes> Frames(std::optional<TzSimDirection> aDirection = std::nullopt) const;
    size_t Count() const;
    void Clear();
    // How many entries the memory keeps; 0 keeps none (the file still gets every line).
    void SetCapacity(size_t aEntries);

    // Appends every further entry to aPath as one line; false when the file cannot be opened.
    bool OpenFile(const std::string &aPath);
    void CloseFile();

    static std::string FormatLine(const TzSimFrameLogEntry &aEntry);
    static std::string Hex(const TSimBytes &aBytes);

private:
    mutable std::mutex fMutex;
    std::vector<TzSimFrameLogEntry> fEntries; // a ring once full
    size_t fFirst = 0;                        // index of the oldest entry in the ring
    size_t fCapacity = DefaultCapacity;
    FILE *fFile = nullptr;
};
