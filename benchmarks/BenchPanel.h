#pragma once
// A panel frame of its own window, as the long benchmarks drive it: connected to a module at
// 115200 bit/s with the port observer open in its dynamic mode.

#include "benchmarks/BenchProcess.h"
#include "diagnostics/uPortObserver.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uQuadrel.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <cstdio>

struct TBenchPanel
{
    TBenchPanel()
    {
        Host.resize(800, 750);
        Frame = new TfrQuadrel(&Host);
        Frame->resize(800, 750);
        Host.show();
    }

    // Connects to the line at aPath and opens the port observer; the observer, or nullptr with a
    // line on standard error when the panel did not connect.
    TfrmPortObserver *ConnectAndObserve(const QString &aPath)
    {
        Frame->AddPortOnTop(aPath);
        Frame->findChild<QComboBox *>("cbLineBaudRate")->setCurrentText(QStringLiteral("115200"));
        Frame->findChild<QPushButton *>("btnConnect")->click();
        auto *observerButton = Frame->findChild<QPushButton *>("btnPortObserver");
        if (!WaitFor([this] { return Frame->Link()->Polling(); }, 20000)
            || !WaitFor([observerButton] { return observerButton->isVisible(); }, 5000)) {
            std::fprintf(stderr, "the panel did not connect to %s\n", qPrintable(aPath));
            return nullptr;
        }
        observerButton->click();
        TfrmPortObserver *observer = PortObservers().last();
        observer->rbDinamica->click();
        return observer;
    }

    // Disconnects as the operator would before the window goes.
    ~TBenchPanel()
    {
        if (Frame->HostConnected())
            Frame->findChild<QPushButton *>("btnConnect")->click();
    }

    TfrmTempLog Log;
    QWidget Host;
    TfrQuadrel *Frame = nullptr;
};
