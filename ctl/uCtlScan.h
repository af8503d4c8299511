#pragma once
// quadrelctl scan: the bus search over the port or the converter, one line per device that
// answers, progress on standard error when that is a terminal.

#include "ctl/uCtlCommandLine.h"
#include "ctl/uCtlSession.h"
#include "ctl/uCtlTarget.h"

#include <QObject>

#include <memory>

class TfrmFindDevice;

class TzCtlScan : public QObject
{
    Q_OBJECT

public:
    TzCtlScan(const TzCtlRequest &aRequest, const TzCtlConnection &aConnection, TzCtlPrinter aPrinter,
              bool aShowProgress, QObject *aParent = nullptr);
    ~TzCtlScan() override;

    void Start();
    void Interrupt();

signals:
    void Finished(int aExitStatus);

private:
    void Found(int aAddress, const QByteArray &aAnswer);
    void Progress(int aAddress);
    void End(int aStatus);

    TzCtlRequest fRequest;
    TzCtlConnection fConnection;
    TzCtlPrinter fPrinter;
    bool fShowProgress = false;
    std::unique_ptr<TfrmFindDevice> fSearch;
    int fFound = 0;
    bool fEnded = false;
};
