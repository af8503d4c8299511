#include "ctl/uCtlSession.h"

#include "common/uUtils.h"
#include "link/uQuadrelLink.h"
#include "model/uConnectionRules.h"
#include "model/uQuadrelMap.h"
#include "model/uShimCalc.h"
#include "port/uFreePort.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

using namespace QuadrelMap;

namespace {

QString Json(const QJsonObject &aObject)
{
    return QString::fromUtf8(QJsonDocument(aObject).toJson(QJsonDocument::Compact));
}

QString OnOffText(bool aOn)
{
    return aOn ? QStringLiteral("включён") : QStringLiteral("выключен");
}

// The register holding the state bit of an output, and the bit.
int StatesRegisterOf(int aOutput)
{
    return aOutput <= 16 ? RegStates1to16 : RegStates17to20;
}

int SafeRegisterOf(int aOutput)
{
    return aOutput <= 16 ? RegSafe1to16 : RegSafe17to20;
}

int BitOf(int aOutput)
{
    return aOutput <= 16 ? aOutput - 1 : aOutput - 17;
}

// The registers that show the states of these outputs, each once.
std::vector<int> StatesRegistersOf(const std::vector<int> &aOutputs)
{
    std::vector<int> registers;
    for (const int output : aOutputs)
        if (std::find(registers.begin(), registers.end(), StatesRegisterOf(output)) == registers.end())
            registers.push_back(StatesRegisterOf(output));
    return registers;
}

} // namespace

TzCtlSession::TzCtlSession(const TzCtlRequest &aRequest, const TzCtlConnection &aConnection, TzCtlPrinter aPrinter,
                           QObject *aParent)
    : QObject(aParent), fRequest(aRequest), fConnection(aConnection), fPrinter(std::move(aPrinter))
{
}

TzCtlSession::~TzCtlSession() = default;

void TzCtlSession::Start()
{
    fLink = std::make_unique<TzQuadrelLink>();
    connect(fLink.get(), &TzQuadrelLink::ProbeAnswered, this, &TzCtlSession::ProbeAnswered);
    connect(fLink.get(), &TzQuadrelLink::ConnectFailed, this, [this] {
        Fail(CtlNoAnswer, QStringLiteral("нет ответа от модуля по адресу %1 (%2)")
                              .arg(fConnection.Link.Address)
                              .arg(fConnection.Where));
    });
    connect(fLink.get(), &TzQuadrelLink::RequestFinished, this, &TzCtlSession::RequestFinished);
    TzLinkSettings settings = fConnection.Link;
    settings.FirstCycleAndPoll = fRequest.Command == TzCtlCommand::Watch;
    if (fLink->Connect(settings)) {
        // The register template is read while the probe is on the line: nothing needs it before
        // the probe's answer.
        QString exception;
        if (!fLink->LoadTemplate(fConnection.Link.Address, &exception))
            Fail(CtlNoAnswer, QStringLiteral("шаблон регистров модуля не загружен: %1").arg(exception));
        return;
    }
    fLink->Disconnect();
    if (settings.ByEthernet)
        Fail(CtlNoAnswer, QStringLiteral("порт %1 для преобразователя занят другой программой (возможно, открытой "
                                         "панелью) или недоступен")
                              .arg(settings.UdpPort));
    else if (!QFileInfo::exists(settings.PortName))
        Fail(CtlNoAnswer, QStringLiteral("порт %1 не найден").arg(settings.PortName));
    else
        Fail(CtlNoAnswer, QStringLiteral("порт %1 занят другой программой (возможно, открытой панелью) или "
                                         "недоступен")
                              .arg(settings.PortName));
}

void TzCtlSession::Interrupt()
{
    if (fRequest.Command == TzCtlCommand::Watch)
        End(CtlOk);
    else
        Fail(CtlNoAnswer, QStringLiteral("прервано"));
}

void TzCtlSession::ProbeAnswered(bool aIsQuadrel)
{
    if (fEnded)
        return;
    if (!aIsQuadrel) {
        Fail(CtlNoAnswer, QStringLiteral("по адресу %1 (%2) ответило устройство типа %3, а не Quadrel (%4): команда "
                                         "не выполнена")
                              .arg(fConnection.Link.Address)
                              .arg(fConnection.Where)
                              .arg(fLink->ProbedDeviceType())
                              .arg(DeviceType));
        return;
    }
    RunCommand();
}

void TzCtlSession::RequestFinished(const TzRequestOutcome &aOutcome)
{
    if (fEnded || !fAwaited || aOutcome.Request != *fAwaited)
        return;
    fAwaited.reset();
    const TzTag *tag = fLink->Device() ? fLink->Device()->GetTagByID(aOutcome.ID) : nullptr;
    const int reg = tag ? tag->Reg : aOutcome.ID;
    if (aOutcome.ErrCode == ErrNoAnswer) {
        Fail(CtlNoAnswer, QStringLiteral("нет ответа от модуля (регистр %1, %2)").arg(reg).arg(fConnection.Where));
    } else if (aOutcome.ErrCode == ErrAnswerCRC) {
        Fail(CtlNoAnswer, QStringLiteral("ответ модуля искажён: ошибка контрольной суммы (регистр %1)").arg(reg));
    } else if (aOutcome.ErrCode != ErrAnswerOK) {
        Fail(CtlNoAnswer, QStringLiteral("ошибка связи с модулем (%1)").arg(fConnection.Where));
    } else if (aOutcome.Exception != 0) {
        Fail(CtlRefused, QStringLiteral("модуль отклонил запрос к регистру %1: исключение %2 (%3)")
                             .arg(reg)
                             .arg(aOutcome.Exception, 2, 10, QLatin1Char('0'))
                             .arg(ModbusErrorText(uint8_t(aOutcome.Exception)).simplified()));
    } else if (TNext next = std::exchange(fNext, nullptr)) {
        next();
    }
}

void TzCtlSession::Fail(int aStatus, const QString &aText)
{
    if (fEnded)
        return;
    fPrinter.Err(QStringLiteral("quadrelctl: ") + aText);
    End(aStatus);
}

void TzCtlSession::Succeed(const QJsonObject &aJson, const QStringList &aText)
{
    if (fRequest.Json)
        fPrinter.Out(Json(aJson));
    else
        for (const QString &line : aText)
            fPrinter.Out(line);
    End(CtlOk);
}

void TzCtlSession::End(int aStatus)
{
    if (fEnded)
        return;
    fEnded = true;
    fNext = nullptr;
    if (fLink)
        fLink->Disconnect();
    emit Finished(aStatus);
}

void TzCtlSession::Read(int aID, TNext aNext)
{
    fAwaited = fLink->RequestRead(aID);
    if (!fAwaited) {
        Fail(CtlNoAnswer, QStringLiteral("запрос регистра %1 не принят").arg(aID));
        return;
    }
    fNext = std::move(aNext);
}

void TzCtlSession::Write(int aID, double aValue, TNext aNext)
{
    fAwaited = fLink->RequestWrite(aID, aValue);
    if (!fAwaited) {
        Fail(CtlNoAnswer, QStringLiteral("запись регистра %1 не принята").arg(aID));
        return;
    }
    fNext = std::move(aNext);
}

void TzCtlSession::ReadEach(std::vector<int> aIDs, TNext aNext)
{
    if (aIDs.empty()) {
        aNext();
        return;
    }
    const int first = aIDs.front();
    aIDs.erase(aIDs.begin());
    Read(first, [this, rest = std::move(aIDs), next = std::move(aNext)]() mutable {
        ReadEach(std::move(rest), std::move(next));
    });
}

void TzCtlSession::WriteEach(std::vector<std::pair<int, double>> aWrites, TNext aNext)
{
    if (aWrites.empty()) {
        aNext();
        return;
    }
    const auto first = aWrites.front();
    aWrites.erase(aWrites.begin());
    Write(first.first, first.second, [this, rest = std::move(aWrites), next = std::move(aNext)]() mutable {
        WriteEach(std::move(rest), std::move(next));
    });
}

int TzCtlSession::Value(int aID) const
{
    int value = 0;
    fLink->TryValueByID(aID, value);
    return value;
}

bool TzCtlSession::OutputOn(int aOutput) const
{
    return IsBitSet(Value(StatesRegisterOf(aOutput)), uint8_t(BitOf(aOutput)));
}

bool TzCtlSession::SafeOn(int aOutput) const
{
    return IsBitSet(Value(SafeRegisterOf(aOutput)), uint8_t(BitOf(aOutput)));
}

void TzCtlSession::RunCommand()
{
    switch (fRequest.Command) {
    case TzCtlCommand::Status: Status(); break;
    case TzCtlCommand::Id: Identify(); break;
    case TzCtlCommand::On: Switch(fRequest.Outputs, true); break;
    case TzCtlCommand::Off: Switch(fRequest.Outputs, false); break;
    case TzCtlCommand::Toggle: Switch(fRequest.Outputs, std::nullopt); break;
    case TzCtlCommand::All: {
        std::vector<int> all;
        for (int n = 1; n <= OutputCount; ++n)
            all.push_back(n);
        Switch(all, fRequest.SwitchOn);
        break;
    }
    case TzCtlCommand::Safe: SafeState(); break;
    case TzCtlCommand::Pwm: PulseWidth(); break;
    case TzCtlCommand::Network: Network(); break;
    case TzCtlCommand::Restart: Restart(); break;
    case TzCtlCommand::Watch: Watch(); break;
    case TzCtlCommand::Scan:
    case TzCtlCommand::History:
    case TzCtlCommand::None: End(CtlUsage); break;
    }
}

void TzCtlSession::Status()
{
    ReadEach({RegFirmware, RegIdentifier1, RegIdentifier2, RegIdentifier3, RegSupplyMillivolts, RegPowerStatus,
              RegStates1to16, RegStates17to20, RegSafe1to16, RegSafe17to20, TagPulseBlock1, TagPulseBlock11},
             [this] {
                 const QString firmware = FirmwareVersionText(Value(RegFirmware));
                 const QString identifier = IdentifierText(Value(RegIdentifier1), Value(RegIdentifier2),
                                                           Value(RegIdentifier3));
                 const int millivolts = Value(RegSupplyMillivolts);
                 const int power = Value(RegPowerStatus);
                 const bool alarm = IsPowerAlarm(power);
                 QJsonObject json{{"address", fConnection.Link.Address},
                                  {"firmware", firmware},
                                  {"supply_mv", millivolts},
                                  {"supply_v", double(millivolts) / 1000.0},
                                  {"power_status", power},
                                  {"power_alarm", alarm},
                                  {"identifier", identifier}};
                 QStringList text{QStringLiteral("Модуль Quadrel, адрес %1 (%2)")
                                      .arg(fConnection.Link.Address)
                                      .arg(fConnection.Where),
                                  QStringLiteral("Прошивка: %1").arg(firmware),
                                  QStringLiteral("Идентификатор: %1").arg(identifier),
                                  QStringLiteral("Напряжение питания: %1").arg(VoltageText(millivolts)),
                                  QStringLiteral("Состояние питания: %1 (%2)")
                                      .arg(power)
                                      .arg(alarm ? QStringLiteral("внимание") : QStringLiteral("норма")),
                                  QStringLiteral("Выход  Состояние  Безопасное  Единица  Период  Заполнение")};
                 QJsonArray outputs;
                 for (int n = 1; n <= OutputCount; ++n) {
                     const TzTag *block = fLink->Device()->GetTagByID(n <= 10 ? TagPulseBlock1 : TagPulseBlock11);
                     const int at = 6 * ((n - 1) % 10);
                     auto word = [block](int aOffset) {
                         return block && block->Data.size() >= aOffset + 2
                                    ? (uint8_t(block->Data[aOffset]) << 8) | uint8_t(block->Data[aOffset + 1])
                                    : 0;
                     };
                     const int unit = word(at), period = word(at + 2), fill = word(at + 4);
                     outputs.append(QJsonObject{{"output", n},
                                                {"on", OutputOn(n)},
                                                {"safe", SafeOn(n)},
                                                {"unit", unit},
                                                {"period", period},
                                                {"fill", fill}});
                     text << QStringLiteral("%1  %2  %3  %4  %5  %6")
                                 .arg(n, 5)
                                 .arg(OutputOn(n) ? QStringLiteral("вкл") : QStringLiteral("выкл"), -9)
                                 .arg(SafeOn(n) ? QStringLiteral("вкл") : QStringLiteral("выкл"), -10)
                                 .arg(unit, 7)
                                 .arg(period, 6)
                                 .arg(fill, 10);
                 }
                 json.insert(QStringLiteral("outputs"), outputs);
                 Succeed(json, text);
             });
}

void TzCtlSession::Identify()
{
    ReadEach({RegIdentifier1, RegIdentifier2, RegIdentifier3, RegFirmware}, [this] {
        const QString identifier = IdentifierText(Value(RegIdentifier1), Value(RegIdentifier2), Value(RegIdentifier3));
        const QString firmware = FirmwareVersionText(Value(RegFirmware));
        Succeed(QJsonObject{{"address", fConnection.Link.Address},
                            {"device_type", fLink->ProbedDeviceType()},
                            {"identifier", identifier},
                            {"firmware", firmware}},
                {QStringLiteral("Тип прибора: %1 (Quadrel), адрес %2")
                     .arg(fLink->ProbedDeviceType())
                     .arg(fConnection.Link.Address),
                 QStringLiteral("Идентификатор: %1").arg(identifier), QStringLiteral("Прошивка: %1").arg(firmware)});
    });
}

// Switches the outputs in the order given (a toggle reads the states first) and, unless told not
// to, reads the states back.
void TzCtlSession::Switch(const std::vector<int> &aOutputs, std::optional<bool> aOn)
{
    auto write = [this, aOutputs, aOn] {
        std::vector<bool> wanted;
        std::vector<std::pair<int, double>> writes;
        for (const int output : aOutputs) {
            const bool on = aOn.value_or(!OutputOn(output));
            wanted.push_back(on);
            writes.emplace_back(OutputCoil(output), on ? 1 : 0);
        }
        WriteEach(writes, [this, aOutputs, wanted] { VerifySwitch(aOutputs, wanted); });
    };
    if (aOn)
        write();
    else
        ReadEach(StatesRegistersOf(aOutputs), write);
}

void TzCtlSession::VerifySwitch(const std::vector<int> &aOutputs, const std::vector<bool> &aWanted)
{
    const QString word = CtlCommandWord(fRequest.Command);
    QJsonArray outputs;
    for (const int output : aOutputs)
        outputs.append(output);
    if (!fRequest.Verify) {
        QStringList text;
        for (size_t i = 0; i < aOutputs.size(); ++i)
            text << QStringLiteral("Выход %1: команда «%2» отправлена")
                        .arg(aOutputs[i])
                        .arg(aWanted[i] ? QStringLiteral("включить") : QStringLiteral("выключить"));
        Succeed(QJsonObject{{"command", word}, {"outputs", outputs}, {"verified", false}}, text);
        return;
    }
    ReadEach(StatesRegistersOf(aOutputs), [this, aOutputs, aWanted, word, outputs] {
        QStringList text;
        for (size_t i = 0; i < aOutputs.size(); ++i) {
            const bool on = OutputOn(aOutputs[i]);
            if (on != aWanted[i]) {
                Fail(CtlNoAnswer, QStringLiteral("выход %1 не переключился: модуль показывает «%2»")
                                      .arg(aOutputs[i])
                                      .arg(OnOffText(on)));
                return;
            }
            text << QStringLiteral("Выход %1: %2").arg(aOutputs[i]).arg(OnOffText(on));
        }
        Succeed(QJsonObject{{"command", word}, {"outputs", outputs}, {"verified", true}}, text);
    });
}

void TzCtlSession::SafeState()
{
    const int output = fRequest.Outputs.front();
    const bool on = fRequest.SwitchOn;
    Write(OutputCoil(output) + OffsetSafe, on ? 1 : 0, [this, output, on] {
        auto done = [this, output, on](bool aVerified) {
            Succeed(QJsonObject{{"command", "safe"}, {"outputs", QJsonArray{output}}, {"verified", aVerified}},
                    {QStringLiteral("Выход %1: безопасное состояние «%2»")
                         .arg(output)
                         .arg(on ? QStringLiteral("замкнуто") : QStringLiteral("разомкнуто"))});
        };
        if (!fRequest.Verify) {
            done(false);
            return;
        }
        Read(SafeRegisterOf(output), [this, output, on, done] {
            if (SafeOn(output) != on) {
                Fail(CtlNoAnswer, QStringLiteral("безопасное состояние выхода %1 не изменилось").arg(output));
                return;
            }
            done(true);
        });
    });
}

void TzCtlSession::PulseWidth()
{
    const int output = fRequest.Outputs.front();
    ShimCalc::TzShimParams params;
    if (fRequest.ClosedMs) {
        params = ShimCalc::FitDurations({*fRequest.ClosedMs, *fRequest.OpenMs}).Params;
    } else {
        params.Scale = *fRequest.Unit;
        params.Period = *fRequest.Period;
        params.Koef = *fRequest.Fill;
    }
    const ShimCalc::TzShimDurations got = ShimCalc::Durations(params);
    const int base = OutputCoil(output);
    WriteEach({{base + OffsetScale, params.Scale},
               {base + OffsetPeriod, params.Period},
               {base + OffsetFill, params.Koef}},
              [this, output, params, got] {
                  auto done = [this, output, params, got](bool aVerified) {
                      Succeed(QJsonObject{{"command", "pwm"},
                                          {"output", output},
                                          {"unit", params.Scale},
                                          {"period", params.Period},
                                          {"fill", params.Koef},
                                          {"closed_ms", double(got.OnMs)},
                                          {"open_ms", double(got.OffMs)},
                                          {"verified", aVerified}},
                              {QStringLiteral("Выход %1: ШИМ единица %2, период %3, заполнение %4")
                                   .arg(output)
                                   .arg(params.Scale)
                                   .arg(params.Period)
                                   .arg(params.Koef),
                               QStringLiteral("Замкнуто %1, разомкнуто %2 (Часы:Мин:Сек.мсек)")
                                   .arg(DurationToStr(got.OnMs), DurationToStr(got.OffMs))});
                  };
                  if (!fRequest.Verify) {
                      done(false);
                      return;
                  }
                  const int blockID = output <= 10 ? TagPulseBlock1 : TagPulseBlock11;
                  Read(blockID, [this, output, params, blockID, done] {
                      const TzTag *block = fLink->Device()->GetTagByID(blockID);
                      const int at = 6 * ((output - 1) % 10);
                      auto word = [block](int aOffset) {
                          return block && block->Data.size() >= aOffset + 2
                                     ? (uint8_t(block->Data[aOffset]) << 8) | uint8_t(block->Data[aOffset + 1])
                                     : -1;
                      };
                      if (word(at) != params.Scale || word(at + 2) != params.Period || word(at + 4) != params.Koef) {
                          Fail(CtlNoAnswer, QStringLiteral("параметры ШИМ выхода %1 не приняты модулем").arg(output));
                          return;
                      }
                      done(true);
                  });
              });
}

void TzCtlSession::Network()
{
    const TzCtlNetwork &n = fRequest.Network;
    std::vector<std::pair<int, double>> writes;
    QJsonObject json{{"command", "network"}, {"restart_needed", true}};
    QStringList text;
    // The panel's order: address, speed, format, time-out.
    if (n.Address) {
        writes.emplace_back(RegAddress, *n.Address);
        json.insert(QStringLiteral("address"), *n.Address);
        text << QStringLiteral("Адрес: %1").arg(*n.Address);
    }
    if (n.BaudRate) {
        writes.emplace_back(RegSpeed, CtlSpeeds().indexOf(QString::number(*n.BaudRate)));
        json.insert(QStringLiteral("baud"), *n.BaudRate);
        text << QStringLiteral("Скорость: %1").arg(*n.BaudRate);
    }
    if (n.FormatItem) {
        writes.emplace_back(RegFormat, FirstFormatCode + *n.FormatItem);
        json.insert(QStringLiteral("format"), CtlFormats()[*n.FormatItem]);
        text << QStringLiteral("Формат: RTU %1").arg(CtlFormats()[*n.FormatItem]);
    }
    if (n.TimeoutSec) {
        writes.emplace_back(RegTimeout, *n.TimeoutSec);
        json.insert(QStringLiteral("timeout_s"), *n.TimeoutSec);
        text << QStringLiteral("Сетевой таймаут: %1 с").arg(*n.TimeoutSec);
    }
    text << QStringLiteral("Новые сетевые настройки записаны; они вступят в силу после перезагрузки модуля "
                           "(quadrelctl restart)");
    WriteEach(writes, [this, json, text] { Succeed(json, text); });
}

void TzCtlSession::Restart()
{
    Write(RegCommand, RestartCommand,
          [this] { Succeed(QJsonObject{{"command", "restart"}}, {QStringLiteral("Модуль перезагружается")}); });
}

void TzCtlSession::Watch()
{
    fWatching = true;
    connect(fLink.get(), &TzQuadrelLink::OutputsRead, this, &TzCtlSession::WatchOutputs);
    connect(fLink.get(), &TzQuadrelLink::StatusRead, this, &TzCtlSession::WatchStatus);
    // The poll's answers stopping for a while is told once, and so is their coming back.
    auto *staleCheck = new QTimer(this);
    connect(staleCheck, &QTimer::timeout, fLink.get(), &TzQuadrelLink::CheckStale);
    staleCheck->start(500);
    connect(fLink.get(), &TzQuadrelLink::StaleChanged, this, [this](bool aStale, const QString &aHint) {
        fPrinter.Err(QStringLiteral("quadrelctl: ") + (aStale ? aHint : QStringLiteral("модуль снова отвечает")));
    });
    if (!fRequest.Json)
        fPrinter.Err(QStringLiteral("quadrelctl: слежение за модулем по адресу %1 (%2); Ctrl+C — выход")
                         .arg(fConnection.Link.Address)
                         .arg(fConnection.Where));
}

void TzCtlSession::WatchLine(QJsonObject aJson, const QString &aText)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    aJson.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
    fPrinter.Out(fRequest.Json ? Json(aJson)
                               : QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz  ")) + aText);
}

void TzCtlSession::WatchOutputs(int aStatesID)
{
    const int states = Value(aStatesID);
    std::optional<int> &last = aStatesID == RegStates1to16 ? fLastStates1to16 : fLastStates17to20;
    const int first = aStatesID == RegStates1to16 ? 1 : 17;
    const int count = aStatesID == RegStates1to16 ? 16 : 4;
    if (last)
        for (int bit = 0; bit < count; ++bit) {
            const bool was = IsBitSet(*last, uint8_t(bit)), is = IsBitSet(states, uint8_t(bit));
            if (was != is)
                WatchLine(QJsonObject{{"kind", "output"}, {"output", first + bit}, {"old", was}, {"new", is}},
                          QStringLiteral("Выход %1: %2").arg(first + bit).arg(OnOffText(is)));
        }
    last = states;
}

void TzCtlSession::WatchStatus(int aID)
{
    const int value = Value(aID);
    if (aID == RegPowerStatus) {
        if (fLastPower && *fLastPower != value)
            WatchLine(
                QJsonObject{{"kind", "power"}, {"old", *fLastPower}, {"new", value}, {"alarm", IsPowerAlarm(value)}},
                QStringLiteral("Состояние питания: %1 (%2)")
                    .arg(value)
                    .arg(IsPowerAlarm(value) ? QStringLiteral("внимание") : QStringLiteral("норма")));
        fLastPower = value;
    } else if (aID == RegSupplyMillivolts) {
        // Reported against the last reported value, so a slow drift shows once it adds up.
        if (!fLastMillivolts) {
            fLastMillivolts = value;
        } else if (std::abs(value - *fLastMillivolts) > fRequest.DeadbandMv) {
            WatchLine(QJsonObject{{"kind", "voltage"}, {"old_mv", *fLastMillivolts}, {"new_mv", value}},
                      QStringLiteral("Напряжение питания: %1").arg(VoltageText(value)));
            fLastMillivolts = value;
        }
    }
}
