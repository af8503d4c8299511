// The web bridge: the one-second poll of the service, applying the output states it returns,
// routing output clicks through it, the control page, the proxy panel, and the remote-control
// check box's hint telling when the service last answered.

#include "panel/uWebBridgePanel.h"

#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
#include "link/uQuadrelLink.h"
#include "panel/uPanelHost.h"
#include "panel/uPictureLabel.h"
#include "web/uHTTP_Request.h"
#include "web/uWebService.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString RemoteHintTitle = QStringLiteral("Управление выходами через веб-сервис");
constexpr int PollIntervalMs = 1000;

QLineEdit *ProxyEdit(QWidget *aParent, const char *aName, const QString &aAccessibleName)
{
    auto *edit = new QLineEdit(aParent);
    edit->setObjectName(QString::fromLatin1(aName));
    edit->setAccessibleName(aAccessibleName);
    return edit;
}

QString MomentText(const QDateTime &aMoment)
{
    if (aMoment.date() == QDate::currentDate())
        return aMoment.toString(QStringLiteral("HH:mm:ss"));
    return aMoment.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

// The size up to which an answer is kept, as the operator reads it: "64 КиБ".
QString AnswerLimitText()
{
    return QStringLiteral("%1 КиБ").arg(TzHTTP_Request::MaxAnswerBytes / 1024);
}

} // namespace

TzWebBridgePanel::TzWebBridgePanel(TzPanelHost &aHost, QWidget *aFrame, QWidget *aTabAfter, TIdentifier aIdentifier,
                                   TOutputShownOn aOutputShownOn)
    : QObject(aFrame), fHost(aHost), fIdentifier(std::move(aIdentifier)), fOutputShownOn(std::move(aOutputShownOn))
{
    setObjectName(QStringLiteral("WebBridge"));
    fHttpBase = NormalizedServiceBase(QString());
    CreateControls(aFrame, aTabAfter);
    CreateProxyPanel(aFrame);

    fPollTimer = new QTimer(this);
    fPollTimer->setObjectName(QStringLiteral("PHP_Call_Timer"));
    fPollTimer->setInterval(PollIntervalMs);
    connect(fPollTimer, &QTimer::timeout, this, &TzWebBridgePanel::PollTimerTimer);
    connect(fProxySettingsButton, &TzPictureLabel::clicked, this, &TzWebBridgePanel::ProxySettingsClick);
    connect(fOpenControlPage, &TzPictureLabel::clicked, this, &TzWebBridgePanel::OpenControlPage);
    connect(fApply, &QPushButton::clicked, this, &TzWebBridgePanel::ApplyClick);
    connect(fCancel, &QPushButton::clicked, this, &TzWebBridgePanel::ReloadRequested);
    // Enter in any field of the panel saves, as in a dialog.
    for (QLineEdit *edit : {fProxyServer, fProxyPort, fProxyUser, fProxyPass, fAuthKey})
        connect(edit, &QLineEdit::returnPressed, fApply, &QPushButton::click);
    connect(fRemoteControl, &QCheckBox::toggled, this, &TzWebBridgePanel::UpdateWebPoll);

    UpdateRemoteHint();
}

void TzWebBridgePanel::CreateControls(QWidget *aFrame, QWidget *aTabAfter)
{
    // Test features, shown only in test mode.
    fRemoteControl = new QCheckBox(QStringLiteral("Разрешить удалённое управление"), aFrame);
    fRemoteControl->setObjectName(QStringLiteral("chkRemoteControl"));
    fRemoteControl->setGeometry(420, 40, 230, 24);
    fProxySettingsButton = new TzPictureLabel(QStringLiteral("imgProxySettings"), QStringLiteral("info"),
                                              QStringLiteral("Настройка"), aFrame);
    fProxySettingsButton->move(420, 72);
    fOpenControlPage = new TzPictureLabel(QStringLiteral("imgOpenNano"), QStringLiteral("info"),
                                          QStringLiteral("Открыть страницу управления"), aFrame);
    fOpenControlPage->move(448, 72);
    QWidget *previous = aTabAfter;
    for (QWidget *test : std::initializer_list<QWidget *>{fRemoteControl, fProxySettingsButton, fOpenControlPage}) {
        test->hide();
        if (previous)
            QWidget::setTabOrder(previous, test);
        previous = test;
    }
    // The pictures take focus and act on Space and Enter like push buttons.
    fProxySettingsButton->SetButton(true);
    fOpenControlPage->SetButton(true);
}

void TzWebBridgePanel::CreateProxyPanel(QWidget *aFrame)
{
    fProxyPanel = new QFrame(aFrame);
    fProxyPanel->setObjectName(QStringLiteral("panProxy"));
    fProxyPanel->setFrameShape(QFrame::StyledPanel);
    fProxyPanel->setAutoFillBackground(true);
    fProxyPanel->hide();

    auto *column = new QVBoxLayout(fProxyPanel);
    auto *title = new QLabel(QStringLiteral("Параметры Proxy"), fProxyPanel);
    title->setObjectName(QStringLiteral("labProxyTitle"));
    column->addWidget(title);
    fProxyUse = new QCheckBox(QStringLiteral(" Использовать Proxy"), fProxyPanel);
    fProxyUse->setObjectName(QStringLiteral("chkProxyUse"));
    column->addWidget(fProxyUse);
    auto *proxyForm = new QFormLayout;
    fProxyServer = ProxyEdit(fProxyPanel, "txtProxyServer", QStringLiteral("Сервер"));
    proxyForm->addRow(QStringLiteral("Сервер"), fProxyServer);
    fProxyPort = ProxyEdit(fProxyPanel, "txtProxyPort", QStringLiteral("Порт"));
    fProxyPort->setText(QStringLiteral("0"));
    fProxyPort->setMaxLength(5);
    fProxyPort->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), fProxyPort));
    proxyForm->addRow(QStringLiteral("Порт"), fProxyPort);
    column->addLayout(proxyForm);
    fProxyNeedPass = new QCheckBox(QStringLiteral(" Использ. логин/пароль"), fProxyPanel);
    fProxyNeedPass->setObjectName(QStringLiteral("chkProxyNeedPass"));
    column->addWidget(fProxyNeedPass);
    auto *loginForm = new QFormLayout;
    fProxyUser = ProxyEdit(fProxyPanel, "txtProxyUser", QStringLiteral("Логин"));
    loginForm->addRow(QStringLiteral("Логин"), fProxyUser);
    fProxyPass = ProxyEdit(fProxyPanel, "txtProxyPass", QStringLiteral("Пароль"));
    fProxyPass->setEchoMode(QLineEdit::Password);
    fProxyPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    loginForm->addRow(QStringLiteral("Пароль"), fProxyPass);
    column->addLayout(loginForm);
    auto *authTitle = new QLabel(QStringLiteral("Авторизация"), fProxyPanel);
    authTitle->setObjectName(QStringLiteral("labAuthTitle"));
    column->addWidget(authTitle);
    auto *authForm = new QFormLayout;
    fAuthKey = ProxyEdit(fProxyPanel, "txtAuthKey", QStringLiteral("Ключ"));
    fAuthKey->setToolTip(QStringLiteral("Ключ доступа - любой набор символов\r\n(должен совпадать с тем, что указан на "
                                        "странице управления)\r\n"));
    authForm->addRow(QStringLiteral("Ключ"), fAuthKey);
    column->addLayout(authForm);
    auto *buttons = new QHBoxLayout;
    fApply = new QPushButton(QStringLiteral("Сохранить"), fProxyPanel);
    fApply->setObjectName(QStringLiteral("btnHTTP_Apply"));
    fCancel = new QPushButton(QStringLiteral("Отменить"), fProxyPanel);
    fCancel->setObjectName(QStringLiteral("btnHTTP_Cancel"));
    buttons->addWidget(fApply);
    buttons->addWidget(fCancel);
    column->addLayout(buttons);
    fProxyPanel->resize(fProxyPanel->sizeHint().expandedTo(QSize(260, 0)));
}

TzWebBridgeSettings TzWebBridgePanel::Settings() const
{
    TzWebBridgeSettings settings;
    settings.ProxyUse = fProxyUse->isChecked();
    settings.ProxyNeedPass = fProxyNeedPass->isChecked();
    settings.ProxyServer = fProxyServer->text();
    settings.ProxyPort = fProxyPort->text();
    settings.ProxyUser = fProxyUser->text();
    settings.ProxyPass = fProxyPass->text();
    settings.AuthKey = fAuthKey->text();
    settings.Base = fStoredBase;
    return settings;
}

void TzWebBridgePanel::SetSettings(const TzWebBridgeSettings &aSettings)
{
    fProxyUse->setChecked(aSettings.ProxyUse);
    fProxyNeedPass->setChecked(aSettings.ProxyNeedPass);
    fProxyServer->setText(aSettings.ProxyServer);
    fProxyPort->setText(aSettings.ProxyPort);
    fProxyUser->setText(aSettings.ProxyUser);
    fProxyPass->setText(aSettings.ProxyPass);
    fAuthKey->setText(aSettings.AuthKey);
    fStoredBase = aSettings.Base;
}

bool TzWebBridgePanel::RoutesOutputs() const
{
    return fRemoteControl->isChecked();
}

bool TzWebBridgePanel::RemoteControlOn() const
{
    return TestMode && fRemoteControl->isChecked() && fHost.HostConnected();
}

void TzWebBridgePanel::FollowTestMode()
{
    if (!TestMode && fProxyPanel->isVisible()) {
        fProxyPanel->hide();
        fOpenControlPage->hide();
    }
    for (QWidget *test : std::initializer_list<QWidget *>{fRemoteControl, fProxySettingsButton, fOpenControlPage})
        test->setVisible(TestMode);
    EndRemoteControlOutsideTestMode();
}

bool TzWebBridgePanel::EndRemoteControlOutsideTestMode()
{
    if (TestMode || !fRemoteControl->isChecked())
        return false;
    // Hidden with the test features, the box would keep routing clicks to the service and let
    // its answers switch outputs with nothing on screen to say so.
    fRemoteControl->setChecked(false);
    fRemoteOutputWanted.fill(std::nullopt);
    TempLogAdd(QStringLiteral("Тестовый функционал выключен: удалённое управление отключено"), LogNavy);
    return true;
}

void TzWebBridgePanel::UpdateWebPoll()
{
    const bool wanted = RemoteControlOn();
    if (wanted && !fPollTimer->isActive())
        fPollTimer->start();
    else if (!wanted)
        fPollTimer->stop();
}

void TzWebBridgePanel::SetHttpBase(const QString &aBase)
{
    fHttpBase = NormalizedServiceBase(aBase);
}

QString TzWebBridgePanel::ServiceUrl(const QString &aEndpoint, const QList<QPair<QString, QString>> &aExtra) const
{
    QList<QPair<QString, QString>> parameters{{QStringLiteral("device_id"), fIdentifier()},
                                              {QStringLiteral("key"), fAuthKey->text()}};
    parameters += aExtra;
    return ServiceAddress(fHttpBase, aEndpoint, parameters);
}

void TzWebBridgePanel::CopyProxySettings()
{
    TzProxySettings proxy;
    proxy.UseProxy = fProxyUse->isChecked();
    proxy.BasicAuthentication = fProxyNeedPass->isChecked();
    proxy.ProxyServer = fProxyServer->text();
    if (!TryStrToInt(fProxyPort->text(), proxy.ProxyPort))
        proxy.ProxyPort = 0;
    proxy.ProxyUsername = fProxyUser->text();
    proxy.ProxyPassword = fProxyPass->text();
    HTTP_Request().SetProxy(proxy);
}

void TzWebBridgePanel::PollTimerTimer()
{
    EndRemoteControlOutsideTestMode();
    if (!RemoteControlOn()) {
        UpdateWebPoll();
        return;
    }
    // One poll at a time: a slow service gets no second request while the first is out.
    if (fPollInFlight)
        return;
    CopyProxySettings();
    fPollInFlight = HTTP_Request().SendGetRequest(
        ServiceUrl(QStringLiteral("discret_outputs.php")), QStringLiteral("NewReq"),
        [this](const TzCallbackInfo &aInfo) { PollAnswered(aInfo); }, this);
}

void TzWebBridgePanel::PollAnswered(const TzCallbackInfo &aInfo)
{
    fPollInFlight = false;
    NoteServiceOutcome(aInfo);
    // An answer to a poll sent before remote control ended switches nothing.
    EndRemoteControlOutsideTestMode();
    if (!aInfo.Success || !RemoteControlOn())
        return;
    const TzCommandSourceScope source(fHost.HostLink(), TzCommandSource::WebBridge);
    for (const TzRemoteOutput &output : ParseRemoteOutputs(aInfo.Answer, aInfo.Cut))
        if (output.On != fOutputShownOn(output.Index))
            fHost.HostLink().SendDOUT(output.Index, output.On);
}

void TzWebBridgePanel::SendRemoteOutput(int aIndex, bool aOn)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    // Remote control ended with test mode (the box may not have been unticked yet): the click
    // goes to the module, as the operator now expects.
    if (!TestMode) {
        EndRemoteControlOutsideTestMode();
        fHost.HostLink().SendDOUT(aIndex, aOn);
        return;
    }
    // One request per output at a time; the state wanted meanwhile is kept, the latest one, and
    // sent when the request in flight ends.
    if (fRemoteOutputInFlight[size_t(aIndex)]) {
        fRemoteOutputWanted[size_t(aIndex)] = aOn;
        return;
    }
    fRemoteOutputWanted[size_t(aIndex)].reset();
    CopyProxySettings();
    const QString address = ServiceUrl(QStringLiteral("discret_output_set.php"),
                                       {{QStringLiteral("dout_index"), QString::number(aIndex)},
                                        {QStringLiteral("status"), aOn ? QStringLiteral("1") : QStringLiteral("0")}});
    fRemoteOutputSent[size_t(aIndex)] = aOn;
    fRemoteOutputInFlight[size_t(aIndex)] = HTTP_Request().SendGetRequest(
        address, QString(),
        [this, aIndex](const TzCallbackInfo &aInfo) {
            fRemoteOutputInFlight[size_t(aIndex)] = false;
            NoteServiceOutcome(aInfo);
            RemoteOutputEnded(aIndex, aInfo.Success);
        },
        this);
}

void TzWebBridgePanel::RemoteOutputEnded(int aIndex, bool aDelivered)
{
    const std::optional<bool> wanted = std::exchange(fRemoteOutputWanted[size_t(aIndex)], std::nullopt);
    // The state asked for again and already delivered needs no second request; one wanted after
    // remote control ended is the module's business, not the service's.
    if (!wanted || (aDelivered && *wanted == fRemoteOutputSent[size_t(aIndex)]) || !RemoteControlOn())
        return;
    SendRemoteOutput(aIndex, *wanted);
}

void TzWebBridgePanel::NoteServiceOutcome(const TzCallbackInfo &aInfo)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (aInfo.Success) {
        if (fFailingSince.isValid())
            TempLogAdd(QStringLiteral("Веб-сервис снова отвечает"), LogNavy);
        // One log line when the answers start to overflow, not one a second.
        if (aInfo.Cut && !fAnswerCut)
            TempLogAdd(QStringLiteral("Ответ веб-сервиса длиннее %1: лишнее отброшено").arg(AnswerLimitText()),
                       LogNavy);
        fAnswerCut = aInfo.Cut;
        fLastAnswer = now;
        fFailingSince = QDateTime();
        fFailReason.clear();
    } else {
        // One log line when the service stops answering, not one a second.
        if (!fFailingSince.isValid()) {
            fFailingSince = now;
            TempLogAdd(QStringLiteral("Веб-сервис не отвечает: ") + aInfo.Msg, LogNavy);
        }
        fFailReason = aInfo.Msg;
    }
    UpdateRemoteHint();
}

void TzWebBridgePanel::UpdateRemoteHint()
{
    QString state;
    if (fFailingSince.isValid()) {
        state = QStringLiteral("Веб-сервис не отвечает с %1 (%2)").arg(MomentText(fFailingSince), fFailReason);
        if (fLastAnswer.isValid())
            state += QStringLiteral("\r\nПоследний ответ: %1").arg(MomentText(fLastAnswer));
    } else if (fLastAnswer.isValid()) {
        state = QStringLiteral("Веб-сервис ответил в %1").arg(MomentText(fLastAnswer));
        if (fAnswerCut)
            state += QStringLiteral(" (ответ длиннее %1, лишнее отброшено)").arg(AnswerLimitText());
    } else {
        state = QStringLiteral("Веб-сервис ещё не отвечал");
    }
    const QString hint = RemoteHintTitle + QStringLiteral("\r\n") + state;
    fRemoteControl->setToolTip(hint);
    fRemoteControl->setAccessibleDescription(hint);
}

void TzWebBridgePanel::OpenControlPage()
{
    const QUrl page(ServiceUrl(QStringLiteral("discret_control.php")));
    // Only a web page; a base address of another kind is never handed to the shell.
    if (page.scheme() == QLatin1String("http") || page.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(page);
}

void TzWebBridgePanel::ProxySettingsClick()
{
    fHost.PopupPanel(fProxySettingsButton, fProxyPanel, alBottom);
    if (fProxyPanel->isVisible())
        fProxyUse->setFocus(Qt::OtherFocusReason);
}

void TzWebBridgePanel::ApplyClick()
{
    emit SaveRequested();
    fProxyPanel->hide();
    fProxySettingsButton->setFocus(Qt::OtherFocusReason);
}
