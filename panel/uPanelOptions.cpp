// The options file between the file and the panel's controls.

#include "panel/uPanelOptions.h"

#include "common/uSafeSave.h"
#include "common/uUtils.h"
#include "panel/uAutorunPanel.h"
#include "panel/uBlinker.h"
#include "panel/uFieldCheck.h"
#include "panel/uSettingsFaults.h"
#include "port/uFreePort.h"
#include "settings/uSettingsPlace.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr int MaxDelaySeconds = 9999;

void SetIndexIfValid(QComboBox *aCombo, int aIndex)
{
    // An index the list does not have leaves the choice as it is.
    if (aIndex >= 0 && aIndex < aCombo->count())
        aCombo->setCurrentIndex(aIndex);
}

} // namespace

TzPanelOptions::TzPanelOptions(const TzConnectionPage &aPage, TzAutorunPanel &aAutorun, TzSettingsFaults &aFaults,
                               QObject *aParent)
    : QObject(aParent), fPage(aPage), fAutorun(aAutorun), fFaults(aFaults)
{
    setObjectName(QStringLiteral("PanelOptions"));
}

void TzPanelOptions::Save(int aComPort)
{
    TzOptionsToSave options;
    options.Indx = aComPort;
    options.Name = fPage.Port->currentText();
    options.Addr = fPage.Address->text();
    options.BaudRate = fPage.Speed->currentIndex();
    options.Format = fPage.Format->currentIndex();
    options.Timeout = fPage.Timeout->text();
    options.AnswerEnd = fAnswerEnd;

    int port = 0, wait = 0;
    const bool hostValid = IsValidIPv4(fPage.Host->text());
    const bool portValid = CheckEditInt(fPage.UdpPort, port, 1, 65535);
    const bool waitValid = CheckEditInt(fPage.Wait, wait, 50, 10000);
    options.EthernetValid = hostValid && portValid && waitValid;
    if (options.EthernetValid) {
        options.EthernetActive = fPage.IsEthernet();
        options.EthernetHost = fPage.Host->text();
        options.EthernetPort = port;
        options.EthernetTimeout = wait;
        options.EthernetAddr = fPage.AddressEth->text();
        options.EthernetFormat = fPage.FormatEth->currentIndex();
        EthernetHost = options.EthernetHost;
        EthernetPort = port;
        EthernetWaitTime = wait;
    }

    const TzAutorunSettings autorun = fAutorun.Shown();
    options.AutorunMini = autorun.Mini;
    options.Autostart = autorun.Autostart;
    options.DelayOn = autorun.DelayOn;
    options.DelayValue = autorun.DelayValue;
    options.StyleIndex = fAutorun.Style();

    const QString fileName = OptionsFileName();
    QString error;
    const TzOptionsWrite result = WriteOptions(fileName, options, &error);
    // A file of another program is left alone without a word.
    if (result != TzOptionsWrite::ForeignRoot)
        fFaults.ReportSave(fileName, result == TzOptionsWrite::Saved, error);
}

void TzPanelOptions::Load()
{
    TzStoredOptions stored;
    QString reason;
    const QString fileName = OptionsFileName();
    const QString what = QStringLiteral("Файл настроек");
    const QString defaults = QStringLiteral("действуют настройки по умолчанию");
    switch (ReadOptions(fileName, stored, &reason)) {
    case TzOptionsRead::Valid: break;
    case TzOptionsRead::Missing: return;
    case TzOptionsRead::Malformed:
        fFaults.SetAside(fileName, what, QStringLiteral("damaged"), reason, defaults);
        return;
    case TzOptionsRead::Unreadable:
        fFaults.SetAside(fileName, what, QStringLiteral("unreadable"), reason, defaults);
        return;
    case TzOptionsRead::ForeignRoot:
        // Another program's file stays as it is; it is neither read nor written.
        fFaults.Note(QStringLiteral("%1 %2 принадлежит другой программе (%3): настройки из него не читаются и "
                                    "в него не сохраняются.")
                         .arg(what, QuotedPath(fileName), reason));
        return;
    case TzOptionsRead::NotAFile:
        fFaults.Note(QStringLiteral("%1 %2 недоступен: %3. Настройки не читаются и не сохраняются.")
                         .arg(what, QuotedPath(fileName), reason));
        return;
    }
    LoadConnection(stored);
    LoadEthernet(stored);
    fAutorun.RefreshRegistration();
    LoadAutorun(stored);
    if (stored.StyleIndex)
        fAutorun.RestoreStyle(*stored.StyleIndex);
}

void TzPanelOptions::LoadConnection(const TzStoredOptions &aStored)
{
    if (aStored.Name) {
        int at = fPage.Port->findText(*aStored.Name);
        if (at < 0 && !aStored.Name->isEmpty()) {
            fPage.Port->addItem(*aStored.Name);
            at = fPage.Port->count() - 1;
        }
        if (at >= 0)
            fPage.Port->setCurrentIndex(at);
    } else if (aStored.Indx) {
        fPage.Port->setCurrentIndex(fPage.Port->findText(QStringLiteral("COM%1").arg(*aStored.Indx)));
    }
    if (aStored.Addr)
        fPage.Address->setText(QString::number(*aStored.Addr));
    if (aStored.BaudRate)
        SetIndexIfValid(fPage.Speed, *aStored.BaudRate);
    if (aStored.Format)
        SetIndexIfValid(fPage.Format, *aStored.Format);
    if (aStored.Timeout)
        fPage.Timeout->setText(QString::number(*aStored.Timeout));
    fAnswerEnd = AnswerEndOf(aStored.AnswerEnd.value_or(QString()));
    // Every engine made from now on (the panel's and the search's) ends answers by this rule.
    DefaultAnswerEnd = fAnswerEnd == TzAnswerEnd::Gap ? ::AnswerEnd::Gap : ::AnswerEnd::Length;
}

void TzPanelOptions::LoadEthernet(const TzStoredOptions &aStored)
{
    if (!aStored.HasEthernet)
        return;
    if (aStored.EthernetActive && *aStored.EthernetActive == 1)
        fPage.Pager->setCurrentWidget(fPage.EthernetPage);
    if (aStored.EthernetHost)
        EthernetHost = *aStored.EthernetHost;
    if (aStored.EthernetPort)
        EthernetPort = *aStored.EthernetPort;
    if (aStored.EthernetTimeout)
        EthernetWaitTime = *aStored.EthernetTimeout;
    if (aStored.EthernetAddr)
        fPage.AddressEth->setText(QString::number(*aStored.EthernetAddr));
    if (aStored.EthernetFormat)
        SetIndexIfValid(fPage.FormatEth, *aStored.EthernetFormat);
    if (!IsValidIPv4(EthernetHost))
        EthernetHost = QString::fromLatin1(EthernetFactoryHost);
    fPage.Host->setText(EthernetHost);
    fPage.UdpPort->setText(QString::number(EthernetPort));
    fPage.Wait->setText(QString::number(EthernetWaitTime));
}

void TzPanelOptions::LoadAutorun(const TzStoredOptions &aStored)
{
    if (!aStored.HasAutorun)
        return;
    TzAutorunSettings settings;
    if (aStored.AutorunMini)
        settings.Mini = *aStored.AutorunMini != 0;
    if (aStored.Autostart)
        settings.Autostart = *aStored.Autostart != 0;
    if (aStored.DelayOn)
        settings.DelayOn = *aStored.DelayOn != 0;
    if (aStored.DelayValue)
        settings.DelayValue = std::clamp(*aStored.DelayValue, 0, MaxDelaySeconds);
    fAutorun.Restore(settings);
}

void TzPanelOptions::SaveHttp(const TzHttpOptions &aOptions)
{
    const QString fileName = OptionsFileName();
    QString error;
    const TzOptionsWrite result = WriteHttpOptions(fileName, aOptions, &error);
    if (result != TzOptionsWrite::ForeignRoot)
        fFaults.ReportSave(fileName, result == TzOptionsWrite::Saved, error);
}

TzOptionsRead TzPanelOptions::ReadHttp(TzStoredHttpOptions &aOptions) const
{
    return ReadHttpOptions(OptionsFileName(), aOptions);
}

bool TzPanelOptions::FileExists() const
{
    return QFile::exists(OptionsFileName());
}
