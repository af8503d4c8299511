#include "ctl/uCtlScan.h"

#include "model/uConnectionRules.h"
#include "port/uFreePort.h"
#include "search/uFindDevice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>

TzCtlScan::TzCtlScan(const TzCtlRequest &aRequest, const TzCtlConnection &aConnection, TzCtlPrinter aPrinter,
                     bool aShowProgress, QObject *aParent)
    : QObject(aParent), fRequest(aRequest), fConnection(aConnection), fPrinter(std::move(aPrinter)),
      fShowProgress(aShowProgress)
{
}

TzCtlScan::~TzCtlScan() = default;

void TzCtlScan::Start()
{
    fSearch = std::make_unique<TfrmFindDevice>();
    const TzLinkSettings &link = fConnection.Link;
    fSearch->ByEthernet = link.ByEthernet;
    if (link.ByEthernet) {
        EthernetHost = link.Host;
        EthernetPort = link.UdpPort;
        EthernetWaitTime = link.WaitMs;
        fSearch->SetTimeout(link.WaitMs);
    } else {
        fSearch->SetPortName(link.PortName);
        fSearch->SetBaudRate(link.BaudRate);
        fSearch->SetFormat(link.FormatItem);
        // A probe's answer is nine characters: the panel's wait is far more than it needs.
        fSearch->SetTimeout(fRequest.Target.TimeoutMs.value_or(std::max(50, GetTimeout(link.BaudRate))));
        fSearch->AllLineSettings = fRequest.AllSpeeds;
        fSearch->Cycled = fRequest.AllSpeeds;
    }
    fSearch->OnFindAddr = [this](int aAddress, const TStringBytes &aAnswer) { Found(aAddress, aAnswer.AsBytes()); };
    fSearch->OnFindProcess = [this](int aAddress) { Progress(aAddress); };
    // Ended from the search's own hand-over: the end is taken up once it has returned.
    connect(fSearch.get(), &TfrmFindDevice::ScanEnded, this, [this] { End(0); }, Qt::QueuedConnection);
    if (fSearch->Start())
        return;
    switch (fSearch->LastError()) {
    case TfrmFindDevice::feBadTimeout: fPrinter.Err(QStringLiteral("quadrelctl: неверное время ожидания")); break;
    case TfrmFindDevice::feNoPort: fPrinter.Err(QStringLiteral("quadrelctl: не выбран порт")); break;
    default:
        fPrinter.Err(
            QStringLiteral("quadrelctl: %1 занят другой программой (возможно, открытой панелью) или недоступен")
                .arg(fConnection.Where));
        break;
    }
    End(CtlNoAnswer);
}

void TzCtlScan::Interrupt()
{
    if (fSearch)
        fSearch->Stop();
    fPrinter.Err(QStringLiteral("quadrelctl: поиск прерван"));
    End(CtlNoAnswer);
}

void TzCtlScan::Found(int aAddress, const QByteArray &aAnswer)
{
    ++fFound;
    const TzFindLine line = fSearch->CurrentLine();
    const bool quadrel = IsQuadrelAnswer(TStringBytes(aAnswer));
    const QString format = LineFormatLabel(line.Format).mid(4); // "8N1" of "RTU 8N1"
    if (fShowProgress)
        fPrinter.Progress(QStringLiteral("\r\x1b[K"));
    if (fRequest.Json) {
        QJsonObject json{{"address", aAddress}, {"quadrel", quadrel}};
        if (!fConnection.Link.ByEthernet) {
            json.insert(QStringLiteral("baud"), line.BaudRate);
            json.insert(QStringLiteral("format"), format);
        }
        fPrinter.Out(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
    } else {
        const QString where = fConnection.Link.ByEthernet ? fConnection.Where
                                                          : QStringLiteral("%1, %2").arg(line.BaudRate).arg(format);
        fPrinter.Out(QStringLiteral("Адрес %1: %2 (%3)")
                         .arg(aAddress)
                         .arg(quadrel ? QStringLiteral("Quadrel") : QStringLiteral("другое устройство"))
                         .arg(where));
    }
}

void TzCtlScan::Progress(int aAddress)
{
    if (!fShowProgress)
        return;
    const TzFindLine line = fSearch->CurrentLine();
    fPrinter.Progress(QStringLiteral("\r\x1b[KПоиск: адрес %1 из %2, %3 бит/с, %4")
                          .arg(aAddress)
                          .arg(FindLastAddr)
                          .arg(line.BaudRate)
                          .arg(LineFormatLabel(line.Format)));
}

void TzCtlScan::End(int aStatus)
{
    if (fEnded)
        return;
    fEnded = true;
    if (fShowProgress)
        fPrinter.Progress(QStringLiteral("\r\x1b[K"));
    if (aStatus == CtlOk && !fRequest.Json)
        fPrinter.Err(QStringLiteral("quadrelctl: найдено устройств: %1").arg(fFound));
    emit Finished(aStatus);
}
