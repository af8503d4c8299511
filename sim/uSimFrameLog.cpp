#include "sim/uSimFrameLog.h"

#include <algorithm>
#include <ctime>

TzSimFrameLog::~TzSimFrameLog()
{
    CloseFile();
}

std::string TzSimFrameLog::Hex(const TSimBytes &aBytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(aBytes.size() * 3);
    for (size_t i = 0; i < aBytes.size(); ++i) {
        if (i != 0)
            text += ' ';
        text += digits[aBytes[i] >> 4];
        text += digits[aBytes[i] & 0x0F];
    }
    return text;
}

std::string TzSimFrameLog::FormatLine(const TzSimFrameLogEntry &aEntry)
{
    // 2026-12-10 02:14:07.123  RX serial  10 04 90 00 00 01 ...
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(aEntry.WallTime.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(ms % 1000));

    std::string line = std::string(stamp) + millis + "  " + (aEntry.Direction == TzSimDirection::Received ? "RX" : "TX")
                       + " " + aEntry.Channel + "  ";
    if (!aEntry.Wrapper.empty())
        line += "[" + Hex(aEntry.Wrapper) + "] ";
    line += Hex(aEntry.Frame);
    if (!aEntry.Note.empty())
        line += "  (" + aEntry.Note + ")";
    return line;
}

void TzSimFrameLog::Add(TzSimDirection aDirection, const std::string &aChannel, const TSimBytes &aFrame,
                        const TSimBytes &aWrapper, const std::string &aNote)
{
    TzSimFrameLogEntry entry{
        std::chrono::system_clock::now(), SimSteadyMs(), aDirection, aChannel, aWrapper, aFrame, aNote};
    std::lock_guard lock(fMutex);
    if (fFile != nullptr) {
        const std::string line = FormatLine(entry) + "\n";
        std::fputs(line.c_str(), fFile);
        std::fflush(fFile); // a reader of the file sees each frame at once
    }
    if (fCapacity == 0)
        return;
    if (fEntries.size() < fCapacity) {
        fEntries.push_back(std::move(entry));
    } else {
        fEntries[fFirst] = std::move(entry);
        fFirst = (fFirst + 1) % fCapacity;
    }
}

std::vector<TzSimFrameLogEntry> TzSimFrameLog::Entries() const
{
    std::lock_guard lock(fMutex);
    std::vector<TzSimFrameLogEntry> result;
    result.reserve(fEntries.size());
    for (size_t i = 0; i < fEntries.size(); ++i)
        result.push_back(fEntries[(fFirst + i) % fEntries.size()]);
    return result;
}

std::vector<TSimBytes> TzSimFrameLog::Frames(std::optional<TzSimDirection> aDirection) const
{
    std::vector<TSimBytes> frames;
    for (const auto &entry : Entries())
        if (!aDirection || entry.Direction == *aDirection)
            frames.push_back(entry.Frame);
    return frames;
}

size_t TzSimFrameLog::Count() const
{
    std::lock_guard lock(fMutex);
    return fEntries.size();
}

void TzSimFrameLog::Clear()
{
    std::lock_guard lock(fMutex);
    fEntries.clear();
    fFirst = 0;
}

void TzSimFrameLog::SetCapacity(size_t aEntries)
{
    std::lock_guard lock(fMutex);
    // Keep the newest entries that still fit, in order.
    std::vector<TzSimFrameLogEntry> ordered;
    const size_t keep = std::min(aEntries, fEntries.size());
    for (size_t i = fEntries.size() - keep; i < fEntries.size(); ++i)
        ordered.push_back(std::move(fEntries[(fFirst + i) % fEntries.size()]));
    fEntries = std::move(ordered);
    fEntries.shrink_to_fit();
    fFirst = 0;
    fCapacity = aEntries;
}

bool TzSimFrameLog::OpenFile(const std::string &aPath)
{
    std::lock_guard lock(fMutex);
    if (fFile != nullptr)
        std::fclose(fFile);
    fFile = std::fopen(aPath.c_str(), "a");
    return fFile != nullptr;
}

void TzSimFrameLog::CloseFile()
{
    std::lock_guard lock(fMutex);
    if (fFile != nullptr)
        std::fclose(fFile);
    fFile = nullptr;
}
