#pragma once
// The web bridge: while remote control is ticked (a test feature) and the module is connected,
// the web service is polled once a second and the output states it returns are written to the
// module through the link; an output clicked meanwhile is asked of the service instead of the
// module. Also the proxy panel, the control page's button and the remote-control box's hint,
// which tells when the service last answered.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QFrame;
class QLineEdit;
class QPushButton;
class QTimer;
class QWidget;
class TzPanelHost;
class TzPictureLabel;
struct TzCallbackInfo;

// What the options file keeps of the bridge: the proxy panel's fields, the access key, and the
// service's base address when the file names one.
struct TzWebBridgeSettings
{
    bool ProxyUse = false;
    bool ProxyNeedPass = false;
    QString ProxyServer;
    QString ProxyPort; // as typed
    QString ProxyUser;
    QString ProxyPass;
    QString AuthKey;
    std::optional<QString> Base;
};

class TzWebBridgePanel : public QObject
{
    Q_OBJECT

public:
    // The module's identifier as the window shows it, sent with every request.
    using TIdentifier = std::function<QString()>;
    // Whether output aIndex (1..20) is shown on: the service's answer switches only the others.
    using TOutputShownOn = std::function<bool(int aIndex)>;

    // Builds the test-feature controls and the proxy panel on aFrame, which also owns this object;
    // in the keyboard order the test-feature controls follow aTabAfter.
    TzWebBridgePanel(TzPanelHost &aHost, QWidget *aFrame, QWidget *aTabAfter, TIdentifier aIdentifier,
                     TOutputShownOn aOutputShownOn);

    // The proxy panel ("panProxy"), a pop-up of the window.
    QFrame *ProxyPanel() const { return fProxyPanel; }

    // The fields of the proxy panel and the stored base address; SetSettings puts them in place
    // without changing the address in use (SetHttpBase does that).
    TzWebBridgeSettings Settings() const;
    void SetSettings(const TzWebBridgeSettings &aSettings);
    // The service's base address in use; an empty text restores the built-in one.
    void SetHttpBase(const QString &aBase);
    QString HttpBase() const { return fHttpBase; }

    // When the service last answered, and since when it has failed (invalid while it answers).
    QDateTime LastAnswer() const { return fLastAnswer; }
    QDateTime FailingSince() const { return fFailingSince; }

    // The test features come and go with test mode; remote control ends with it.
    void FollowTestMode();
    // The service is polled only while remote control is ticked and the module is connected:
    // called when either changes.
    void UpdateWebPoll();
    // Remote control is ticked: an output the operator switches goes to the service
    // (SendRemoteOutput), not to the module.
    bool RoutesOutputs() const;
    // Asks the service to switch output aIndex; the module is written by a later poll's answer.
    void SendRemoteOutput(int aIndex, bool aOn);

signals:
    // "Сохранить" in the proxy panel: the window stores Settings() in the options file.
    void SaveRequested();
    // "Отменить": the window puts the stored settings back (SetSettings).
    void ReloadRequested();

private:
    void CreateControls(QWidget *aFrame, QWidget *aTabAfter);
    void CreateProxyPanel(QWidget *aFrame);
    void PollTimerTimer();
    void PollAnswered(const TzCallbackInfo &aInfo);
    // Outputs are switched through the web service: test mode on, remote control ticked, connected.
    bool RemoteControlOn() const;
    // Unticks remote control once test mode is off (it is out of sight then); true when it did.
    bool EndRemoteControlOutsideTestMode();
    // The request in flight for output aIndex ended: the state wanted meanwhile goes out now.
    void RemoteOutputEnded(int aIndex, bool aDelivered);
    void OpenControlPage();
    void ProxySettingsClick();
    void ApplyClick();
    // The address of a page of the service, with this module's identifier and the access key.
    QString ServiceUrl(const QString &aEndpoint, const QList<QPair<QString, QString>> &aExtra = {}) const;
    void CopyProxySettings();
    void UpdateRemoteHint();
    void NoteServiceOutcome(const TzCallbackInfo &aInfo);

    TzPanelHost &fHost;
    TIdentifier fIdentifier;
    TOutputShownOn fOutputShownOn;

    QCheckBox *fRemoteControl = nullptr;
    TzPictureLabel *fProxySettingsButton = nullptr;
    TzPictureLabel *fOpenControlPage = nullptr;
    QFrame *fProxyPanel = nullptr;
    QCheckBox *fProxyUse = nullptr;
    QLineEdit *fProxyServer = nullptr;
    QLineEdit *fProxyPort = nullptr;
    QCheckBox *fProxyNeedPass = nullptr;
    QLineEdit *fProxyUser = nullptr;
    QLineEdit *fProxyPass = nullptr;
    QLineEdit *fAuthKey = nullptr;
    QPushButton *fApply = nullptr;
    QPushButton *fCancel = nullptr;
    QTimer *fPollTimer = nullptr;

    QString fHttpBase;
    // The base address as the options file keeps it, when it names one.
    std::optional<QString> fStoredBase;
    bool fPollInFlight = false;                   // a poll of the service awaits its answer
    std::array<bool, 21> fRemoteOutputInFlight{}; // an output request awaits its answer; 1..20
    std::array<bool, 21> fRemoteOutputSent{};     // the state the request in flight asks for
    // The state last wanted while a request was in flight, sent when that request ends.
    std::array<std::optional<bool>, 21> fRemoteOutputWanted{};
    QDateTime fLastAnswer;   // when the service last answered
    QDateTime fFailingSince; // first failure since then; invalid while it answers
    QString fFailReason;
    bool fAnswerCut = false; // the last answer was longer than the requester keeps
};
