// The frame side of the options file: the connection, autorun and style settings, the web
// bridge's proxy settings and key, registration for starting at logon, and the style list.

#include "panel/uQuadrel.h"

#include "common/uSafeSave.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "panel/uAutorun.h"
#include "panel/uOptionsFile.h"
#include "panel/uPictureLabel.h"
#include "panel/uSettingsPlace.h"
#include "panel/uStyles.h"
#include "panel/uWebBridgePanel.h"
#include "port/uFreePort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int MaxDelaySeconds = 9999;

QCheckBox *CheckBox(QWidget *aParent, const char *aName, const QString &aCaption)
{
    auto *box = new QCheckBox(aCaption, aParent);
    box->setObjectName(QString::fromLatin1(aName));
    return box;
}

QLineEdit *Edit(QWidget *aParent, const char *aName, const QString &aAccessibleName)
{
    auto *edit = new QLineEdit(aParent);
    edit->setObjectName(QString::fromLatin1(aName));
    edit->setAccessibleName(aAccessibleName);
    return edit;
}

void SetDigitsOnly(QLineEdit *aEdit, int aMaxLength)
{
    aEdit->setMaxLength(aMaxLength);
    aEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), aEdit));
}

void SetChecked(QCheckBox *aBox, bool aChecked)
{
    const QSignalBlocker quiet(aBox);
    aBox->setChecked(aChecked);
}

void SetIndexIfValid(QComboBox *aCombo, int aIndex)
{
    // An index the list does not have leaves the choice as it is.
    if (aIndex >= 0 && aIndex < aCombo->count())
        aCombo->setCurrentIndex(aIndex);
}

int DelaySecondsOf(const QString &aText)
{
    int seconds = 0;
    return TryStrToInt(aText, seconds) ? seconds : 0;
}

bool StartedByAutorun()
{
    const QStringList arguments = QCoreApplication::arguments();
    return arguments.size() > 1 && arguments[1] == QStringLiteral("/autorun");
}

} // namespace

void TfrQuadrel::CreateOptionControls()
{
    // The autorun panel opens under its button.
    btnAutorun->setText(QStringLiteral(" Автозагрузка"));
    btnAutorun->show();
    panAutorun = new QFrame(this);
    panAutorun->setObjectName(QStringLiteral("panAutorun"));
    panAutorun->setFrameShape(QFrame::StyledPanel);
    panAutorun->setAutoFillBackground(true);
    panAutorun->resize(340, 130);
    panAutorun->hide();
    auto *autorunColumn = new QVBoxLayout(panAutorun);
#ifdef Q_OS_WIN
    chkAutorun = CheckBox(panAutorun, "chkAutorun", QStringLiteral("Запускать автоматически вместе с Windows"));
#else
    chkAutorun = CheckBox(panAutorun, "chkAutorun", QStringLiteral("Запускать автоматически при входе в систему"));
#endif
    chkAutoStart = CheckBox(panAutorun, "chkAutoStart", QStringLiteral("Начинать опрос при автозапуске"));
    chkAutoStartDelay = CheckBox(panAutorun, "chkAutoStartDelay", QStringLiteral("Отложить опрос на"));
    txtAutostartDelay = Edit(panAutorun, "txtAutostartDelay", QStringLiteral("Отложить опрос на, сек"));
    txtAutostartDelay->setText(QStringLiteral("10"));
    SetDigitsOnly(txtAutostartDelay, 4);
    txtAutostartDelay->setMaximumWidth(60);
    auto *delayRow = new QHBoxLayout;
    delayRow->addWidget(chkAutoStartDelay);
    delayRow->addWidget(txtAutostartDelay);
    delayRow->addWidget(new QLabel(QStringLiteral("сек"), panAutorun));
    delayRow->addStretch(1);
    chkAutorunMini = CheckBox(panAutorun, "chkAutorunMini", QStringLiteral("Запускать свёрнутым (при автозапуске)"));
    autorunColumn->addWidget(chkAutorun);
    autorunColumn->addWidget(chkAutoStart);
    autorunColumn->addLayout(delayRow);
    autorunColumn->addWidget(chkAutorunMini);

    // The delayed project save is never early, however busy the machine: edits are batched in
    // windows of full five seconds.
    ProjSaveTimer->setTimerType(Qt::PreciseTimer);

    AutostartTimer = new QTimer(this);
    AutostartTimer->setObjectName(QStringLiteral("AutostartTimer"));
    AutostartTimer->setInterval(1000);
    AutostartTimer->setSingleShot(true);

    // The style list and the styler; a fresh panel wears the design style.
    {
        const QSignalBlocker quiet(cbStyles);
        cbStyles->clear();
        cbStyles->addItems(StyleNames());
        cbStyles->setCurrentIndex(DefaultStyleIndex);
    }
    AdvFormStyler1 = new TzFormStyler(this);
    AdvFormStyler1->setObjectName(QStringLiteral("AdvFormStyler1"));
    AdvFormStyler1->SetStyle(DefaultStyleIndex);
}

void TfrQuadrel::ConnectOptionSignals()
{
    connect(btnAutorun, &QPushButton::clicked, this, [this] {
        PopupPanel(btnAutorun, panAutorun, alBottom);
        btnAutorun->setChecked(panAutorun->isVisible());
    });
    for (QCheckBox *box : {chkAutorun, chkAutoStart, chkAutoStartDelay, chkAutorunMini})
        connect(box, &QCheckBox::clicked, this, [this, box] { chkAutorunClick(box); });
    connect(txtAutostartDelay, &QLineEdit::textChanged, this, [this] { chkAutorunClick(txtAutostartDelay); });
    connect(AutostartTimer, &QTimer::timeout, this, &TfrQuadrel::AutostartTimerTimer);

    connect(cbStyles, &QComboBox::currentIndexChanged, this, [this](int aIndex) { AdvFormStyler1->SetStyle(aIndex); });
    connect(AdvFormStyler1, &TzFormStyler::Changed, this, &TfrQuadrel::AdvFormStyler1Change);

    connect(ProjSaveTimer, &QTimer::timeout, this, &TfrQuadrel::ProjSaveTimerTimer);
}

void TfrQuadrel::ReportSaveResult(const QString &aFileName, bool aSaved, const QString &aError)
{
    if (aSaved) {
        fSaveErrors.remove(aFileName);
        return;
    }
    if (fSaveErrors.value(aFileName) == aError)
        return;
    fSaveErrors.insert(aFileName, aError);
    AppException(this, QStringLiteral("настройки не сохранены, ") + aError);
}

void TfrQuadrel::NoteSettingsFault(const QString &aText)
{
    TempLogAdd(aText, LogNavy);
    if (InitMode)
        fStartNotes.append(aText);
}

void TfrQuadrel::ShowStartNotes()
{
    const QStringList notes = std::exchange(fStartNotes, {});
    // An unattended start says it in the log only (also when the file that would make it silent
    // is the one that could not be read).
    if (notes.isEmpty() || SilenceMode || StartedByAutorun())
        return;
    // Shown once the window is up, and not modal: nothing waits for it to be closed.
    QTimer::singleShot(0, this, [this, notes] {
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Уведомление"),
                                    notes.join(QStringLiteral("\n\n")), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("StartNotes"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
}

bool TfrQuadrel::SetAsideUnusable(const QString &aFileName, const QString &aWhat, const QString &aMark,
                                  const QString &aReason, const QString &aConsequence)
{
    QString error;
    const QString aside = SetFileAside(aFileName, aMark, &error);
    if (aside.isEmpty()) {
        NoteSettingsFault(QStringLiteral("%1 %2 не используется: %3. Отложить его не удалось (%4): он останется "
                                         "как есть и не будет перезаписан; %5.")
                              .arg(aWhat, QuotedPath(aFileName), aReason, error, aConsequence));
        return false;
    }
    NoteSettingsFault(
        QStringLiteral("%1 %2 не используется: %3. Он сохранён под именем %4; %5.")
            .arg(aWhat, QuotedPath(aFileName), aReason, QuotedPath(QFileInfo(aside).fileName()), aConsequence));
    return true;
}

void TfrQuadrel::SaveOptions()
{
    if (InitMode)
        return;
    TzOptionsToSave options;
    options.Indx = ComPort;
    options.Name = cbComPort->currentText();
    options.Addr = txtLineAddr->text();
    options.BaudRate = cbLineBaudRate->currentIndex();
    options.Format = cbLineFormat->currentIndex();
    options.Timeout = txtLineTimeout->text();
    options.AnswerEnd = AnswerEnd;

    int port = 0, wait = 0;
    const bool hostValid = IsValidIPv4(txtEthernetAddr->text());
    const bool portValid = CheckEditInt(txtEthernetPort, port, 1, 65535);
    const bool waitValid = CheckEditInt(txtEthernetTimeout, wait, 50, 10000);
    options.EthernetValid = hostValid && portValid && waitValid;
    if (options.EthernetValid) {
        options.EthernetActive = IsEthernetPage();
        options.EthernetHost = txtEthernetAddr->text();
        options.EthernetPort = port;
        options.EthernetTimeout = wait;
        options.EthernetAddr = txtLineAddrEth->text();
        options.EthernetFormat = cbLineFormatEth->currentIndex();
        EthernetHost = options.EthernetHost;
        EthernetPort = port;
        EthernetWaitTime = wait;
    }

    options.AutorunMini = chkAutorunMini->isChecked();
    options.Autostart = chkAutoStart->isChecked();
    options.DelayOn = chkAutoStartDelay->isChecked();
    options.DelayValue = DelaySecondsOf(txtAutostartDelay->text());
    options.StyleIndex = AdvFormStyler1->Style();

    const QString fileName = OptionsFileName();
    QString error;
    const TzOptionsWrite result = WriteOptions(fileName, options, &error);
    // A file of another program is left alone without a word.
    if (result != TzOptionsWrite::ForeignRoot)
        ReportSaveResult(fileName, result == TzOptionsWrite::Saved, error);
}

void TfrQuadrel::LoadOptions()
{
    Autorun_mini = false;
    Autostart = false;
    Autostart_Delay_On = false;
    Autostart_Delay_Value = 10;
    SilenceMode = false;

    TzStoredOptions stored;
    QString reason;
    const QString fileName = OptionsFileName();
    const QString what = QStringLiteral("Файл настроек");
    const QString defaults = QStringLiteral("действуют настройки по умолчанию");
    switch (ReadOptions(fileName, stored, &reason)) {
    case TzOptionsRead::Valid: break;
    case TzOptionsRead::Missing: return;
    case TzOptionsRead::Malformed:
        SetAsideUnusable(fileName, what, QStringLiteral("damaged"), reason, defaults);
        return;
    case TzOptionsRead::Unreadable:
        SetAsideUnusable(fileName, what, QStringLiteral("unreadable"), reason, defaults);
        return;
    case TzOptionsRead::ForeignRoot:
        // Another program's file stays as it is; it is neither read nor written.
        NoteSettingsFault(QStringLiteral("%1 %2 принадлежит другой программе (%3): настройки из него не читаются и "
                                         "в него не сохраняются.")
                              .arg(what, QuotedPath(fileName), reason));
        return;
    case TzOptionsRead::NotAFile:
        NoteSettingsFault(QStringLiteral("%1 %2 недоступен: %3. Настройки не читаются и не сохраняются.")
                              .arg(what, QuotedPath(fileName), reason));
        return;
    }

    if (stored.Name) {
        int at = cbComPort->findText(*stored.Name);
        if (at < 0 && !stored.Name->isEmpty()) {
            cbComPort->addItem(*stored.Name);
            at = cbComPort->count() - 1;
        }
        if (at >= 0)
            cbComPort->setCurrentIndex(at);
    } else if (stored.Indx) {
        cbComPort->setCurrentIndex(cbComPort->findText(QStringLiteral("COM%1").arg(*stored.Indx)));
    }
    if (stored.Addr)
        txtLineAddr->setText(QString::number(*stored.Addr));
    if (stored.BaudRate)
        SetIndexIfValid(cbLineBaudRate, *stored.BaudRate);
    if (stored.Format)
        SetIndexIfValid(cbLineFormat, *stored.Format);
    if (stored.Timeout)
        txtLineTimeout->setText(QString::number(*stored.Timeout));
    AnswerEnd = AnswerEndOf(stored.AnswerEnd.value_or(QString()));
    // Every engine made from now on (the panel's and the search's) ends answers by this rule.
    DefaultAnswerEnd = AnswerEnd == TzAnswerEnd::Gap ? ::AnswerEnd::Gap : ::AnswerEnd::Length;
    cbComPortChange();

    if (stored.HasEthernet) {
        if (stored.EthernetActive && *stored.EthernetActive == 1)
            ConnectPager->setCurrentWidget(PageConnEthernet);
        if (stored.EthernetHost)
            EthernetHost = *stored.EthernetHost;
        if (stored.EthernetPort)
            EthernetPort = *stored.EthernetPort;
        if (stored.EthernetTimeout)
            EthernetWaitTime = *stored.EthernetTimeout;
        if (stored.EthernetAddr)
            txtLineAddrEth->setText(QString::number(*stored.EthernetAddr));
        if (stored.EthernetFormat)
            SetIndexIfValid(cbLineFormatEth, *stored.EthernetFormat);
        if (!IsValidIPv4(EthernetHost))
            EthernetHost = QString::fromLatin1(EthernetFactoryHost);
        txtEthernetAddr->setText(EthernetHost);
        txtEthernetPort->setText(QString::number(EthernetPort));
        txtEthernetTimeout->setText(QString::number(EthernetWaitTime));
    }

    SetChecked(chkAutorun, RunKeyValueMatches());

    if (stored.HasAutorun) {
        if (stored.AutorunMini)
            Autorun_mini = *stored.AutorunMini != 0;
        if (stored.Autostart)
            Autostart = *stored.Autostart != 0;
        if (stored.DelayOn)
            Autostart_Delay_On = *stored.DelayOn != 0;
        if (stored.DelayValue) {
            Autostart_Delay_Value = std::clamp(*stored.DelayValue, 0, MaxDelaySeconds);
            const QSignalBlocker quiet(txtAutostartDelay);
            txtAutostartDelay->setText(QString::number(Autostart_Delay_Value));
        }
        SetChecked(chkAutorunMini, Autorun_mini);
        SetChecked(chkAutoStart, Autostart);
        SetChecked(chkAutoStartDelay, Autostart_Delay_On);
        if (Autostart_Delay_On)
            AutostartTimer->setInterval(Autostart_Delay_Value * 1000);
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() > 1 && arguments[1] == QStringLiteral("/autorun")) {
            SilenceMode = true;
            if (Autostart)
                AutostartTimer->start();
        }
    }

    if (stored.StyleIndex && AdvFormStyler1->SetStyle(*stored.StyleIndex)) {
        const QSignalBlocker quiet(cbStyles);
        cbStyles->setCurrentIndex(AdvFormStyler1->Style());
    }
}

void TfrQuadrel::SaveHTTPOptions()
{
    const TzWebBridgeSettings bridge = fWebBridge->Settings();
    TzHttpOptions options;
    options.ProxyEnabled = bridge.ProxyUse;
    options.ProxyBasic = bridge.ProxyNeedPass;
    options.Server = bridge.ProxyServer;
    options.Port = bridge.ProxyPort;
    options.User = bridge.ProxyUser;
    options.Pass = bridge.ProxyPass;
    options.Key = bridge.AuthKey;
    options.Base = bridge.Base;
    const QString fileName = OptionsFileName();
    QString error;
    const TzOptionsWrite result = WriteHttpOptions(fileName, options, &error);
    if (result != TzOptionsWrite::ForeignRoot)
        ReportSaveResult(fileName, result == TzOptionsWrite::Saved, error);
}

void TfrQuadrel::LoadHTTPOptions()
{
    TzStoredHttpOptions stored;
    const TzOptionsRead state = ReadHttpOptions(OptionsFileName(), stored);
    TzWebBridgeSettings bridge = fWebBridge->Settings();
    if (state == TzOptionsRead::Missing && bridge.AuthKey.isEmpty()) {
        // No web-bridge settings stored yet: the bridge still gets a key of its own. It is
        // written at once into an existing options file; a first start writes no file until the
        // operator saves something.
        bridge.AuthKey = GenerateAccessKey(6);
        fWebBridge->SetSettings(bridge);
        if (QFile::exists(OptionsFileName()))
            SaveHTTPOptions();
        return;
    }
    if (state != TzOptionsRead::Valid)
        return;
    if (stored.Base) {
        bridge.Base = stored.Base;
        fWebBridge->SetHttpBase(*stored.Base);
    }
    if (stored.Enabled)
        bridge.ProxyUse = *stored.Enabled != 0;
    if (stored.Basic)
        bridge.ProxyNeedPass = *stored.Basic != 0;
    if (stored.Server)
        bridge.ProxyServer = *stored.Server;
    if (stored.Port)
        bridge.ProxyPort = QString::number(*stored.Port);
    if (stored.User)
        bridge.ProxyUser = *stored.User;
    if (stored.Pass)
        bridge.ProxyPass = *stored.Pass;
    bridge.AuthKey = stored.Key ? *stored.Key : GenerateAccessKey(6);
    fWebBridge->SetSettings(bridge);
    if (!stored.Key)
        SaveHTTPOptions();
}

void TfrQuadrel::chkAutorunClick(QObject *Sender)
{
    if (Sender == chkAutorun) {
        QString error;
        const bool done = chkAutorun->isChecked() ? RunKeyWrite(&error) : RunKeyDelete(&error);
        if (!done) {
            AppException(this, error);
            SetChecked(chkAutorun, RunKeyValueMatches());
        }
        return;
    }
    Autorun_mini = chkAutorunMini->isChecked();
    Autostart = chkAutoStart->isChecked();
    Autostart_Delay_On = chkAutoStartDelay->isChecked();
    Autostart_Delay_Value = DelaySecondsOf(txtAutostartDelay->text());
    SaveOptions();
}

void TfrQuadrel::AutostartTimerTimer()
{
    if (!Connected)
        DoConnect();
    AutostartTimer->stop();
}

void TfrQuadrel::AdvFormStyler1Change()
{
    if (cbStyles->currentIndex() != AdvFormStyler1->Style()) {
        const QSignalBlocker quiet(cbStyles);
        cbStyles->setCurrentIndex(AdvFormStyler1->Style());
    }
    SaveOptions();
}

bool TfrQuadrel::StartMinimised() const
{
    return SilenceMode && Autorun_mini;
}
