// bench_journal_year: writes a synthetic stretch of the journal (one sample a second, an output
// event every ten minutes, a connection event a day) through the store, one transaction per
// second as the writer does, folding every simulated minute. Then prints the file's size, how
// long Open takes on it, the time of Buckets() over the last week and month (1000 buckets), the
// events of a month, and the longest single write and fold.
//   bench_journal_year [--days N (365)] [--folder DIR (a temporary one, removed)]

#include "journal/uJournalStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr qint64 SecondMs = 1000;
constexpr qint64 DayMs = 24 * 3600 * SecondMs;

double Ms(qint64 aNs)
{
    return double(aNs) / 1e6;
}

qint64 FileBytes(const QString &aFile)
{
    qint64 bytes = 0;
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        bytes += QFileInfo(aFile + suffix).size();
    return bytes;
}

// Runs aCall three times; gives the first and the best time in milliseconds.
template <class F>
std::pair<double, double> Timed(F aCall, size_t *aRows)
{
    double first = 0, best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        *aRows = aCall();
        const double ms = Ms(timer.nsecsElapsed());
        if (run == 0)
            first = ms;
        best = std::min(best, ms);
    }
    return {first, best};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("days"), QStringLiteral("Simulated days."), QStringLiteral("N"), QStringLiteral("365")});
    parser.addOption(
        {QStringLiteral("folder"), QStringLiteral("Folder for Journal.sqlite (kept)."), QStringLiteral("DIR")});
    parser.process(app);
    const int days = std::max(1, parser.value(QStringLiteral("days")).toInt());
    QTemporaryDir scratch;
    const QString folder = parser.isSet(QStringLiteral("folder")) ? parser.value(QStringLiteral("folder"))
                                                                  : scratch.path();

    TzJournalStore store(folder);
    QString note;
    if (!store.Open(&note)) {
        std::fprintf(stderr, "%s\n", qPrintable(note));
        return 1;
    }
    const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 end = start + days * DayMs;
    std::mt19937 random(12345);
    std::normal_distribution<double> noise(0, 40);
    quint32 outputs = 0;
    int power = 0;
    qint64 writes = 0, longestWrite = 0, longestFold = 0, totalWrite = 0;
    QElapsedTimer wall;
    wall.start();
    for (qint64 now = start; now < end; now += SecondMs) {
        const qint64 second = (now - start) / SecondMs;
        TzJournalBatch batch;
        if (second % 600 == 0) {
            const int output = int(second / 600 % 20) + 1;
            const quint32 old = outputs;
            outputs ^= 1u << (output - 1);
            batch.Events.push_back({now, QStringLiteral("output"), output, qint64(old >> (output - 1) & 1),
                                    qint64(outputs >> (output - 1) & 1), QStringLiteral("operator"),
                                    QStringLiteral("Выход %1 переключён").arg(output)});
        }
        if (second % 86400 == 3600)
            batch.Events.push_back({now,
                                    QStringLiteral("connection_made"),
                                    0,
                                    std::nullopt,
                                    std::nullopt,
                                    {},
                                    QStringLiteral("Соединение установлено")});
        if (second % 7200 == 0)
            power = (random() % 50 == 0) ? 0x4000 : 0;
        batch.Samples.push_back({now, 24000 + int(noise(random)), power, outputs});
        QElapsedTimer timer;
        timer.start();
        QString problem;
        if (!store.Write(batch, &problem)) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(problem));
            return 1;
        }
        const qint64 took = timer.nsecsElapsed();
        longestWrite = std::max(longestWrite, took);
        totalWrite += took;
        ++writes;
        if (second % 60 == 59) {
            timer.restart();
            store.Fold(now);
            longestFold = std::max(longestFold, timer.nsecsElapsed());
        }
        if (second % (30 * 86400) == 0 && second > 0)
            std::printf("  day %lld: %.0f s, %.1f MB\n", second / 86400, wall.elapsed() / 1000.0,
                        FileBytes(store.FileName()) / 1e6);
        std::fflush(stdout);
    }
    store.Fold(end);
    store.Close();
    std::printf("simulated %d days, %lld one-second writes in %.0f s (mean %.3f ms, longest %.2f ms), "
                "longest fold %.2f ms\n",
                days, writes, wall.elapsed() / 1000.0, Ms(totalWrite) / double(writes), Ms(longestWrite),
                Ms(longestFold));
    std::printf("file after folding: %.1f MB\n", FileBytes(store.FileName()) / 1e6);

    QElapsedTimer timer;
    timer.start();
    if (!store.Open(&note)) {
        std::fprintf(stderr, "%s\n", qPrintable(note));
        return 1;
    }
    std::printf("Open (with the integrity check): %.0f ms\n", Ms(timer.nsecsElapsed()));
    for (const auto &[name, span] : {std::pair{"week", 7 * DayMs}, std::pair{"month", 30 * DayMs}}) {
        size_t rows = 0;
        const auto [first, best] = Timed([&] { return store.Buckets(end - span, end, 1000).size(); }, &rows);
        std::printf("Buckets, last %s, 1000 buckets: %zu buckets, first %.1f ms, best %.1f ms\n", name, rows, first,
                    best);
    }
    size_t rows = 0;
    const auto [first, best] = Timed([&] { return store.Events(end - 30 * DayMs, end).size(); }, &rows);
    std::printf("Events, last month: %zu events, first %.1f ms, best %.1f ms\n", rows, first, best);
    return 0;
}
