#include "journal/uJournal.h"

#include "common/uUtils.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>

#include <algorithm>

using namespace QuadrelMap;

namespace {

bool IsNetworkRegister(int aRegister)
{
    return aRegister == RegAddress || aRegister == RegSpeed || aRegister == RegFormat || aRegister == RegTimeout;
}

// The output and the offset of a per-output register; output 0 for anything else.
std::pair<int, int> OutputRegister(int aRegister)
{
    const int offset = aRegister - FirstOutputCoil;
    if (offset < 0 || offset >= OutputStride * OutputCount)
        return {0, 0};
    return {offset / OutputStride + 1, offset % OutputStride};
}

} // namespace

QString JournalSourceWord(TzCommandSource aSource)
{
    switch (aSource) {
    case TzCommandSource::Operator: return QStringLiteral("operator");
    case TzCommandSource::Sequence: return QStringLiteral("sequence");
    case TzCommandSource::AllOutputs: return QStringLiteral("all_outputs");
    case TzCommandSource::WebBridge: return QStringLiteral("web");
    }
    return QString();
}

TzJournal::TzJournal(TzQuadrelLink &aLink, TBatchSink aSink, QObject *aParent)
    : QObject(aParent), fLink(aLink), fSink(std::move(aSink)),
      fClock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    connect(&fLink, &TzQuadrelLink::ProbeAnswered, this, [this](bool aIsQuadrel) {
        if (aIsQuadrel)
            ConnectionMade();
        else
            Add(QStringLiteral("connection_failed"),
                QStringLiteral("По адресу %1 (%2) ответило устройство типа %3, а не Quadrel")
                    .arg(fLink.Settings().Address)
                    .arg(Where())
                    .arg(fLink.ProbedDeviceType()));
    });
    connect(&fLink, &TzQuadrelLink::ConnectFailed, this, [this] {
        Add(QStringLiteral("connection_failed"),
            QStringLiteral("Нет ответа модуля по адресу %1 (%2)").arg(fLink.Settings().Address).arg(Where()));
    });
    connect(&fLink, &TzQuadrelLink::StaleChanged, this, [this](bool aStale, const QString &aHint) {
        if (aStale)
            Add(QStringLiteral("connection_lost"), aHint);
        else if (fLink.IsConnected())
            Add(QStringLiteral("connection_made"), QStringLiteral("Модуль снова отвечает"));
    });
    connect(&fLink, &TzQuadrelLink::Disconnected, this,
            [this] { Add(QStringLiteral("connection_ended"), QStringLiteral("Отключение от модуля")); });
    connect(&fLink, &TzQuadrelLink::OutputsRead, this, &TzJournal::OutputsRead);
    connect(&fLink, &TzQuadrelLink::StatusRead, this, [this](int aID) {
        if (aID == RegPowerStatus)
            if (const std::optional<int> status = Value(RegPowerStatus))
                PowerRead(*status);
    });
    connect(&fLink, &TzQuadrelLink::PulseWidthBlockRead, this, [this](TzTag *aTag) {
        if (aTag)
            PulseBlockRead(*aTag);
    });
    connect(&fLink, &TzQuadrelLink::OutputCommanded, this, [this](int aOutput, bool aOn, TzCommandSource aSource) {
        if (aOutput >= 1 && aOutput <= OutputCount)
            fExpected[size_t(aOutput)].push_back(
                TExpected{aOn, JournalSourceWord(aSource), fClock() + CommandExpectMs});
    });
    connect(&fLink, &TzQuadrelLink::RequestQueued, this, &TzJournal::WriteQueued);
    connect(&fLink, &TzQuadrelLink::RequestFinished, this, &TzJournal::RequestFinished);

    fTimer = new QTimer(this);
    fTimer->setObjectName(QStringLiteral("JournalTimer"));
    fTimer->setInterval(1000);
    connect(fTimer, &QTimer::timeout, this, &TzJournal::Tick);
    fTimer->start();
}

TzJournal::~TzJournal()
{
    TellAppliedSettings();
    if (!fBatch.Events.empty() || !fBatch.Samples.empty())
        fSink(std::move(fBatch));
}

void TzJournal::Add(const QString &aKind, const QString &aText, int aOutput, std::optional<qint64> aOld,
                    std::optional<qint64> aNew, const QString &aSource)
{
    TzJournalEvent event;
    event.TimeMs = fClock();
    event.Kind = aKind;
    event.Output = aOutput;
    event.Old = aOld;
    event.New = aNew;
    event.Source = aSource;
    event.Text = aText;
    fBatch.Events.push_back(std::move(event));
}

QString TzJournal::Where() const
{
    const TzLinkSettings &settings = fLink.Settings();
    if (settings.ByEthernet)
        return QStringLiteral("преобразователь %1:%2").arg(settings.Host).arg(settings.UdpPort);
    return QStringLiteral("%1, %2 бит/с, %3")
        .arg(settings.PortName)
        .arg(settings.BaudRate)
        .arg(LineFormatLabel(settings.FormatItem));
}

std::optional<int> TzJournal::Value(int aID) const
{
    int value = 0;
    if (!fLink.TryValueByID(aID, value))
        return std::nullopt;
    return value;
}

void TzJournal::ConnectionMade()
{
    // What the previous connection read or asked for says nothing about this one.
    fStates1to16.reset();
    fStates17to20.reset();
    fPowerAlarm.reset();
    fPulsing = 0;
    for (std::deque<TExpected> &expected : fExpected)
        expected.clear();
    fWrites.clear();
    Add(QStringLiteral("connection_made"),
        QStringLiteral("Подключение к модулю по адресу %1 (%2)").arg(fLink.Settings().Address).arg(Where()));
}

void TzJournal::OutputsRead(int aStatesID)
{
    const std::optional<int> states = Value(aStatesID);
    if (!states)
        return;
    std::optional<int> &last = aStatesID == RegStates1to16 ? fStates1to16 : fStates17to20;
    const int first = aStatesID == RegStates1to16 ? 1 : 17;
    const int lastOutput = aStatesID == RegStates1to16 ? 16 : OutputCount;
    const qint64 now = fClock();
    if (last) {
        for (int n = first; n <= lastOutput; ++n) {
            const bool was = IsBitSet(*last, uint8_t(n - first));
            const bool is = IsBitSet(*states, uint8_t(n - first));
            std::deque<TExpected> &expected = fExpected[size_t(n)];
            while (!expected.empty() && expected.front().UntilMs < now)
                expected.pop_front();
            if (was == is)
                continue;
            // The oldest command that asked for this state made the change; those before it
            // were overtaken.
            const auto asked = std::find_if(expected.begin(), expected.end(),
                                            [is](const TExpected &aCommand) { return aCommand.On == is; });
            QString source = JournalModuleSource;
            if (asked != expected.end()) {
                source = asked->Source;
                expected.erase(expected.begin(), asked + 1);
            } else if (fPulsing & (1u << (n - 1))) {
                // A pulsing output switches by itself with its period: the samples keep that.
                continue;
            }
            Add(QStringLiteral("output"),
                QStringLiteral("Выход %1: %2").arg(n).arg(is ? QStringLiteral("включён") : QStringLiteral("выключен")),
                n, was ? 1 : 0, is ? 1 : 0, source);
        }
    }
    last = states;
}

void TzJournal::PowerRead(int aStatus)
{
    const bool alarm = IsPowerAlarm(aStatus);
    // The first reading of a connection tells only an alarm already standing.
    if (fPowerAlarm.value_or(false) != alarm)
        Add(alarm ? QStringLiteral("power_alarm_raised") : QStringLiteral("power_alarm_cleared"),
            alarm ? QStringLiteral("Питание: внимание (состояние %1)").arg(aStatus)
                  : QStringLiteral("Питание: норма (состояние %1)").arg(aStatus),
            0, fPowerAlarm ? std::optional<qint64>(*fPowerAlarm) : std::nullopt, alarm ? 1 : 0);
    fPowerAlarm = alarm;
}

void TzJournal::PulseBlockRead(const TzTag &aBlock)
{
    if (aBlock.ID != TagPulseBlock1 && aBlock.ID != TagPulseBlock11)
        return;
    const QByteArray &data = aBlock.Data;
    if (data.size() < 60)
        return;
    const int first = aBlock.ID == TagPulseBlock1 ? 1 : 11;
    for (int i = 0; i < 10; ++i) {
        const int fill = (uint8_t(data[6 * i + 4]) << 8) | uint8_t(data[6 * i + 5]);
        const quint32 bit = 1u << (first + i - 1);
        fPulsing = fill > 0 && fill < 1000 ? fPulsing | bit : fPulsing & ~bit;
    }
}

void TzJournal::WriteQueued(const TzPortObsRec &aRecord)
{
    if (aRecord.Func != 5 && aRecord.Func != 6)
        return;
    const bool wanted = aRecord.Reg == RegCommand || IsNetworkRegister(aRecord.Reg)
                        || (OutputRegister(aRecord.Reg).first > 0 && OutputRegister(aRecord.Reg).second != 0);
    if (wanted)
        fWrites[uint32_t(aRecord.Index)] = TWrite{aRecord.Reg, int(aRecord.Value.toDouble())};
}

void TzJournal::RequestFinished(const TzRequestOutcome &aOutcome)
{
    const auto write = fWrites.find(aOutcome.Request);
    if (write == fWrites.end())
        return;
    const TWrite applied = write->second;
    fWrites.erase(write);
    if (aOutcome.Answered())
        WriteApplied(applied);
}

void TzJournal::WriteApplied(const TWrite &aWrite)
{
    if (aWrite.Register == RegCommand) {
        if (aWrite.Value == RestartCommand)
            Add(QStringLiteral("restart"), QStringLiteral("Перезагрузка модуля"));
        return;
    }
    if (IsNetworkRegister(aWrite.Register)) {
        fNetworkApplied[aWrite.Register] = aWrite.Value;
        return;
    }
    const auto [output, offset] = OutputRegister(aWrite.Register);
    if (output == 0)
        return;
    fPulseApplied[output][offset] = aWrite.Value;
    // From now on the output may switch by itself: known before its next state is read.
    if (offset == OffsetFill) {
        const quint32 bit = 1u << (output - 1);
        fPulsing = aWrite.Value > 0 && aWrite.Value < 1000 ? fPulsing | bit : fPulsing & ~bit;
    }
}

// One event for the network settings and one per output for its pulse-width settings, however
// many writes each apply took.
void TzJournal::TellAppliedSettings()
{
    if (!fNetworkApplied.empty()) {
        QStringList parts;
        for (const auto &[reg, value] : fNetworkApplied) {
            if (reg == RegAddress)
                parts << QStringLiteral("адрес %1").arg(value);
            else if (reg == RegSpeed)
                parts << QStringLiteral("скорость %1").arg(BaudRateCodeText(value));
            else if (reg == RegFormat)
                parts << QStringLiteral("формат %1").arg(FormatCodeText(value));
            else
                parts << QStringLiteral("таймаут %1 с").arg(value);
        }
        Add(QStringLiteral("network_settings"),
            QStringLiteral("Сетевые настройки: ") + parts.join(QStringLiteral(", ")));
        fNetworkApplied.clear();
    }
    for (const auto &[output, values] : fPulseApplied) {
        QStringList parts;
        for (const auto &[offset, value] : values) {
            if (offset == OffsetScale)
                parts << QStringLiteral("единица %1").arg(value);
            else if (offset == OffsetPeriod)
                parts << QStringLiteral("период %1").arg(value);
            else if (offset == OffsetFill)
                parts << QStringLiteral("заполнение %1").arg(value);
            else if (offset == OffsetSafe)
                parts << QStringLiteral("безопасное состояние %1")
                             .arg(value ? QStringLiteral("замкнуто") : QStringLiteral("разомкнуто"));
        }
        if (!parts.isEmpty())
            Add(QStringLiteral("pulse_width_settings"),
                QStringLiteral("Выход %1, ШИМ: ").arg(output) + parts.join(QStringLiteral(", ")), output);
    }
    fPulseApplied.clear();
}

void TzJournal::Tick()
{
    TellAppliedSettings();
    if (fLink.IsConnected()) {
        const std::optional<int> supply = Value(RegSupplyMillivolts), power = Value(RegPowerStatus);
        if (supply && power && fStates1to16 && fStates17to20) {
            TzJournalSample sample;
            sample.TimeMs = fClock();
            sample.SupplyMv = *supply;
            sample.PowerStatus = *power;
            sample.Outputs = quint32(*fStates1to16 & 0xFFFF) | (quint32(*fStates17to20 & 0xF) << 16);
            fBatch.Samples.push_back(sample);
        }
    }
    if (fBatch.Events.empty() && fBatch.Samples.empty())
        return;
    fSink(std::exchange(fBatch, TzJournalBatch{}));
}
