// The web bridge on the frame: the one-second poll of the service, applying the output states it
// returns, routing output clicks through it, the control page, the proxy panel, and the remote-
// control check box's hint telling when the service last answered.

#include "panel/uQuadrel.h"

#include "common/uGlobVar.h"
#include "common/uUtils.h"
#include "diagnostics/uTempLog.h"
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

void TfrQuadrel::CreateWebBridge()
{
    fHttpBase = NormalizedServiceBase(QString());

    auto *column = new QVBoxLayout(panProxy);
    auto *title = new QLabel(QStringLiteral("Параметры Proxy"), panProxy);
    title->setObjectName(QStringLiteral("labProxyTitle"));
    column->addWidget(title);
    chkProxyUse = new QCheckBox(QStringLiteral(" Использовать Proxy"), panProxy);
    chkProxyUse->setObjectName(QStringLiteral("chkProxyUse"));
    column->addWidget(chkProxyUse);
    auto *proxyForm = new QFormLayout;
    txtProxyServer = ProxyEdit(panProxy, "txtProxyServer", QStringLiteral("Сервер"));
    proxyForm->addRow(QStringLiteral("Сервер"), txtProxyServer);
    txtProxyPort = ProxyEdit(panProxy, "txtProxyPort", QStringLiteral("Порт"));
    txtProxyPort->setText(QStringLiteral("0"));
    txtProxyPort->setMaxLength(5);
    txtProxyPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d*")), txtProxyPort));
    proxyForm->addRow(QStringLiteral("Порт"), txtProxyPort);
    column->addLayout(proxyForm);
    chkProxyNeedPass = new QCheckBox(QStringLiteral(" Использ. логин/пароль"), panProxy);
    chkProxyNeedPass->setObjectName(QStringLiteral("chkProxyNeedPass"));
    column->addWidget(chkProxyNeedPass);
    auto *loginForm = new QFormLayout;
    txtProxyUser = ProxyEdit(panProxy, "txtProxyUser", QStringLiteral("Логин"));
    loginForm->addRow(QStringLiteral("Логин"), txtProxyUser);
    txtProxyPass = ProxyEdit(panProxy, "txtProxyPass", QStringLiteral("Пароль"));
    txtProxyPass->setEchoMode(QLineEdit::Password);
    txtProxyPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    loginForm->addRow(QStringLiteral("Пароль"), txtProxyPass);
    column->addLayout(loginForm);
    auto *authTitle = new QLabel(QStringLiteral("Авторизация"), panProxy);
    authTitle->setObjectName(QStringLiteral("labAuthTitle"));
    column->addWidget(authTitle);
    auto *authForm = new QFormLayout;
    txtAuthKey = ProxyEdit(panProxy, "txtAuthKey", QStringLiteral("Ключ"));
    txtAuthKey->setToolTip(
        QStringLiteral("Ключ доступа - любой набор символов\r\n(должен совпадать с тем, что указан на "
                       "странице управления)\r\n"));
    authForm->addRow(QStringLiteral("Ключ"), txtAuthKey);
    column->addLayout(authForm);
    auto *buttons = new QHBoxLayout;
    btnHTTP_Apply = new QPushButton(QStringLiteral("Сохранить"), panProxy);
    btnHTTP_Apply->setObjectName(QStringLiteral("btnHTTP_Apply"));
    btnHTTP_Cancel = new QPushButton(QStringLiteral("Отменить"), panProxy);
    btnHTTP_Cancel->setObjectName(QStringLiteral("btnHTTP_Cancel"));
    buttons->addWidget(btnHTTP_Apply);
    buttons->addWidget(btnHTTP_Cancel);
    column->addLayout(buttons);
    panProxy->resize(panProxy->sizeHint().expandedTo(QSize(260, 0)));

    imgProxySettings->setToolTip(QStringLiteral("Настройка"));
    imgProxySettings->setAccessibleName(QStringLiteral("Настройка"));
    imgProxySettings->SetButton(true);
    imgOpenNano->SetButton(true);

    PHP_Call_Timer = new QTimer(this);
    PHP_Call_Timer->setObjectName(QStringLiteral("PHP_Call_Timer"));
    PHP_Call_Timer->setInterval(1000);
    connect(PHP_Call_Timer, &QTimer::timeout, this, &TfrQuadrel::PHP_Call_TimerTimer);
    connect(imgProxySettings, &TzPictureLabel::clicked, this, &TfrQuadrel::imgProxySettingsClick);
    connect(imgOpenNano, &TzPictureLabel::clicked, this, &TfrQuadrel::imgOpenNanoClick);
    connect(btnHTTP_Apply, &QPushButton::clicked, this, &TfrQuadrel::btnHTTP_ApplyClick);
    connect(btnHTTP_Cancel, &QPushButton::clicked, this, &TfrQuadrel::btnHTTP_CancelClick);
    // Enter in any field of the panel saves, as in a dialog.
    for (QLineEdit *edit : {txtProxyServer, txtProxyPort, txtProxyUser, txtProxyPass, txtAuthKey})
        connect(edit, &QLineEdit::returnPressed, btnHTTP_Apply, &QPushButton::click);

    connect(chkRemoteControl, &QCheckBox::toggled, this, &TfrQuadrel::UpdateWebPoll);

    LoadHTTPOptions();
    UpdateRemoteHint();
}

bool TfrQuadrel::RemoteControlOn() const
{
    return TestMode && chkRemoteControl->isChecked() && Connected;
}

bool TfrQuadrel::EndRemoteControlOutsideTestMode()
{
    if (TestMode || !chkRemoteControl->isChecked())
        return false;
    // Hidden with the test features, the box would keep routing clicks to the service and let
    // its answers switch outputs with nothing on screen to say so.
    chkRemoteControl->setChecked(false);
    RemoteOutputWanted.fill(std::nullopt);
    TempLogAdd(QStringLiteral("Тестовый функционал выключен: удалённое управление отключено"), LogNavy);
    return true;
}

void TfrQuadrel::UpdateWebPoll()
{
    if (!PHP_Call_Timer)
        return;
    const bool wanted = RemoteControlOn();
    if (wanted && !PHP_Call_Timer->isActive())
        PHP_Call_Timer->start();
    else if (!wanted)
        PHP_Call_Timer->stop();
}

void TfrQuadrel::SetHttpBase(const QString &aBase)
{
    fHttpBase = NormalizedServiceBase(aBase);
}

QString TfrQuadrel::ServiceUrl(const QString &aEndpoint, const QList<QPair<QString, QString>> &aExtra) const
{
    QList<QPair<QString, QString>> parameters{{QStringLiteral("device_id"), txtMAC->text()},
                                              {QStringLiteral("key"), txtAuthKey->text()}};
    parameters += aExtra;
    return ServiceAddress(fHttpBase, aEndpoint, parameters);
}

void TfrQuadrel::CopyProxySettings()
{
    TzProxySettings proxy;
    proxy.UseProxy = chkProxyUse->isChecked();
    proxy.BasicAuthentication = chkProxyNeedPass->isChecked();
    proxy.ProxyServer = txtProxyServer->text();
    if (!TryStrToInt(txtProxyPort->text(), proxy.ProxyPort))
        proxy.ProxyPort = 0;
    proxy.ProxyUsername = txtProxyUser->text();
    proxy.ProxyPassword = txtProxyPass->text();
    HTTP_Request().SetProxy(proxy);
}

void TfrQuadrel::PHP_Call_TimerTimer()
{
    EndRemoteControlOutsideTestMode();
    if (!RemoteControlOn()) {
        UpdateWebPoll();
        return;
    }
    // One poll at a time: a slow service gets no second request while the first is out.
    if (PollInFlight)
        return;
    CopyProxySettings();
    PollInFlight = HTTP_Request().SendGetRequest(
        ServiceUrl(QStringLiteral("discret_outputs.php")), QStringLiteral("NewReq"),
        [this](const TzCallbackInfo &aInfo) { ReqCallback(aInfo); }, this);
}

void TfrQuadrel::ReqCallback(const TzCallbackInfo &aInfo)
{
    PollInFlight = false;
    NoteServiceOutcome(aInfo);
    // An answer to a poll sent before remote control ended switches nothing.
    EndRemoteControlOutsideTestMode();
    if (!aInfo.Success || !RemoteControlOn())
        return;
    for (const TzRemoteOutput &output : ParseRemoteOutputs(aInfo.Answer, aInfo.Cut))
        if (output.On != Outputs().Output(output.Index).IsOn())
            SendDOUT(output.Index, output.On);
}

void TfrQuadrel::SendRemoteOutput(int aIndex, bool aOn)
{
    if (aIndex < 1 || aIndex > 20)
        return;
    // Remote control ended with test mode (the box may not have been unticked yet): the click
    // goes to the module, as the operator now expects.
    if (!TestMode) {
        EndRemoteControlOutsideTestMode();
        SendDOUT(aIndex, aOn);
        return;
    }
    // One request per output at a time; the state wanted meanwhile is kept, the latest one, and
    // sent when the request in flight ends.
    if (RemoteOutputInFlight[size_t(aIndex)]) {
        RemoteOutputWanted[size_t(aIndex)] = aOn;
        return;
    }
    RemoteOutputWanted[size_t(aIndex)].reset();
    CopyProxySettings();
    const QString address = ServiceUrl(QStringLiteral("discret_output_set.php"),
                                       {{QStringLiteral("dout_index"), QString::number(aIndex)},
                                        {QStringLiteral("status"), aOn ? QStringLiteral("1") : QStringLiteral("0")}});
    RemoteOutputSent[size_t(aIndex)] = aOn;
    RemoteOutputInFlight[size_t(aIndex)] = HTTP_Request().SendGetRequest(
        address, QString(),
        [this, aIndex](const TzCallbackInfo &aInfo) {
            RemoteOutputInFlight[size_t(aIndex)] = false;
            NoteServiceOutcome(aInfo);
            RemoteOutputEnded(aIndex, aInfo.Success);
        },
        this);
}

void TfrQuadrel::RemoteOutputEnded(int aIndex, bool aDelivered)
{
    const std::optional<bool> wanted = std::exchange(RemoteOutputWanted[size_t(aIndex)], std::nullopt);
    // The state asked for again and already delivered needs no second request; one wanted after
    // remote control ended is the module's business, not the service's.
    if (!wanted || (aDelivered && *wanted == RemoteOutputSent[size_t(aIndex)]) || !RemoteControlOn())
        return;
    SendRemoteOutput(aIndex, *wanted);
}

void TfrQuadrel::NoteServiceOutcome(const TzCallbackInfo &aInfo)
{
    const QDateTime now = QDateTime::currentDateTime();
    if (aInfo.Success) {
        if (WebFailingSince.isValid())
            TempLogAdd(QStringLiteral("Веб-сервис снова отвечает"), LogNavy);
        // One log line when the answers start to overflow, not one a second.
        if (aInfo.Cut && !WebAnswerCut)
            TempLogAdd(QStringLiteral("Ответ веб-сервиса длиннее %1: лишнее отброшено").arg(AnswerLimitText()),
                       LogNavy);
        WebAnswerCut = aInfo.Cut;
        WebLastAnswer = now;
        WebFailingSince = QDateTime();
        WebFailReason.clear();
    } else {
        // One log line when the service stops answering, not one a second.
        if (!WebFailingSince.isValid()) {
            WebFailingSince = now;
            TempLogAdd(QStringLiteral("Веб-сервис не отвечает: ") + aInfo.Msg, LogNavy);
        }
        WebFailReason = aInfo.Msg;
    }
    UpdateRemoteHint();
}

void TfrQuadrel::UpdateRemoteHint()
{
    QString state;
    if (WebFailingSince.isValid()) {
        state = QStringLiteral("Веб-сервис не отвечает с %1 (%2)").arg(MomentText(WebFailingSince), WebFailReason);
        if (WebLastAnswer.isValid())
            state += QStringLiteral("\r\nПоследний ответ: %1").arg(MomentText(WebLastAnswer));
    } else if (WebLastAnswer.isValid()) {
        state = QStringLiteral("Веб-сервис ответил в %1").arg(MomentText(WebLastAnswer));
        if (WebAnswerCut)
            state += QStringLiteral(" (ответ длиннее %1, лишнее отброшено)").arg(AnswerLimitText());
    } else {
        state = QStringLiteral("Веб-сервис ещё не отвечал");
    }
    const QString hint = RemoteHintTitle + QStringLiteral("\r\n") + state;
    chkRemoteControl->setToolTip(hint);
    chkRemoteControl->setAccessibleDescription(hint);
}

void TfrQuadrel::imgOpenNanoClick()
{
    const QUrl page(ServiceUrl(QStringLiteral("discret_control.php")));
    // Only a web page; a base address of another kind is never handed to the shell.
    if (page.scheme() == QLatin1String("http") || page.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(page);
}

void TfrQuadrel::imgProxySettingsClick()
{
    PopupPanel(imgProxySettings, panProxy, alBottom);
    if (panProxy->isVisible())
        chkProxyUse->setFocus(Qt::OtherFocusReason);
}

void TfrQuadrel::btnHTTP_ApplyClick()
{
    SaveHTTPOptions();
    panProxy->hide();
    imgProxySettings->setFocus(Qt::OtherFocusReason);
}

void TfrQuadrel::btnHTTP_CancelClick()
{
    LoadHTTPOptions();
}
