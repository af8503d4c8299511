#include "web/uHTTP_Request.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>

namespace {

// How often a transfer, and a task waiting for its hand-over, looks whether it should give up.
constexpr int CancelCheckMs = 50;
constexpr auto HandOverCheck = std::chrono::milliseconds(CancelCheckMs);
const char *const ReceiverTokenName = "TzHTTP_ReceiverToken";

std::atomic<bool> gClosing{false};
std::atomic<int> gRunning{0};
std::once_flag gCurlInit;

// Set once the program closes: running transfers end, waiting hand-overs give up, and the
// application's wait for the shared pool returns at once.
void MarkClosing()
{
    gClosing = true;
}

// Lives as a child of a receiver: its destruction, at the receiver's, cancels the receiver's
// requests.
class TzReceiverToken : public QObject
{
public:
    explicit TzReceiverToken(QObject *aParent) : QObject(aParent), Gone(std::make_shared<std::atomic<bool>>(false))
    {
        setObjectName(QString::fromLatin1(ReceiverTokenName));
    }
    ~TzReceiverToken() override { Gone->store(true); }

    std::shared_ptr<std::atomic<bool>> Gone;
};

std::shared_ptr<std::atomic<bool>> ReceiverGoneFlag(QObject *aReceiver)
{
    auto *token = aReceiver->findChild<QObject *>(QString::fromLatin1(ReceiverTokenName), Qt::FindDirectChildrenOnly);
    if (!token)
        token = new TzReceiverToken(aReceiver);
    return static_cast<TzReceiverToken *>(token)->Gone;
}

// The hand-over of one outcome: done once the posted call has run or has been dropped unrun.
struct TzDelivery
{
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Done = false;
};

// Travels inside the posted call; whenever the call is destroyed, run or not, the task waiting for
// it is released.
struct TzDeliveryRelease
{
    explicit TzDeliveryRelease(std::shared_ptr<TzDelivery> aDelivery) : Delivery(std::move(aDelivery)) {}
    ~TzDeliveryRelease()
    {
        {
            std::lock_guard lock(Delivery->Mutex);
            Delivery->Done = true;
        }
        Delivery->Changed.notify_all();
    }
    std::shared_ptr<TzDelivery> Delivery;
};

struct TzAnswerSink
{
    QByteArray Body;
    bool Cut = false;
};

size_t WriteAnswer(char *aData, size_t aSize, size_t aCount, void *aSink)
{
    auto *sink = static_cast<TzAnswerSink *>(aSink);
    const qsizetype length = qsizetype(aSize * aCount);
    const qsizetype room = TzHTTP_Request::MaxAnswerBytes - sink->Body.size();
    if (length > room) {
        // Keep what fits and stop the transfer: the rest of an oversized answer is never read.
        sink->Body.append(aData, room);
        sink->Cut = true;
        return 0;
    }
    sink->Body.append(aData, length);
    return size_t(length);
}

QString FailureReason(CURLcode aCode)
{
    switch (aCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("адрес не найден");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("нет соединения");
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("время ожидания истекло");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR: return QStringLiteral("сертификат сервера не прошёл проверку");
    case CURLE_SSL_CONNECT_ERROR: return QStringLiteral("ошибка защищённого соединения");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("слишком много перенаправлений");
    case CURLE_UNSUPPORTED_PROTOCOL: return QStringLiteral("неподдерживаемый протокол");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE: return QStringLiteral("соединение прервано");
    default: return QStringLiteral("ошибка обмена (код %1)").arg(int(aCode));
    }
}

void SetupHandle(CURL *aEasy, const QByteArray &aUrl, const TzProxySettings &aProxy, const QByteArray &aProxyHost,
                 const QByteArray &aProxyUser, const QByteArray &aProxyPass, const QByteArray &aCaFile,
                 curl_slist *aHeaders, TzAnswerSink *aSink)
{
    curl_easy_setopt(aEasy, CURLOPT_URL, aUrl.constData());
    curl_easy_setopt(aEasy, CURLOPT_NOSIGNAL, 1L);
    // A transfer cancelled or timed out while its host name is being looked up ends at once: the
    // lookup thread is left to finish on its own instead of being waited for, which with a silent
    // name server would hold the request (and the program's close) for the resolver's whole patience.
    curl_easy_setopt(aEasy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(aEasy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(aEasy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(aEasy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(aEasy, CURLOPT_MAXREDIRS, TzHTTP_Request::MaxRedirects);
    curl_easy_setopt(aEasy, CURLOPT_HTTPHEADER, aHeaders);
    curl_easy_setopt(aEasy, CURLOPT_USERAGENT, "quadrel-panel");
    curl_easy_setopt(aEasy, CURLOPT_CONNECTTIMEOUT_MS, TzHTTP_Request::ConnectTimeoutMs);
    curl_easy_setopt(aEasy, CURLOPT_TIMEOUT_MS, TzHTTP_Request::TotalTimeoutMs);
    curl_easy_setopt(aEasy, CURLOPT_WRITEFUNCTION, &WriteAnswer);
    curl_easy_setopt(aEasy, CURLOPT_WRITEDATA, aSink);
    // TLS 1.2 at least, the highest both sides support; peer and host name always verified.
    curl_easy_setopt(aEasy, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(aEasy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(aEasy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!aCaFile.isEmpty())
        curl_easy_setopt(aEasy, CURLOPT_CAINFO, aCaFile.constData());

    if (aProxy.UseProxy && !aProxyHost.isEmpty()) {
        curl_easy_setopt(aEasy, CURLOPT_PROXY, aProxyHost.constData());
        curl_easy_setopt(aEasy, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
        if (aProxy.ProxyPort > 0 && aProxy.ProxyPort <= 65535)
            curl_easy_setopt(aEasy, CURLOPT_PROXYPORT, long(aProxy.ProxyPort));
        // The proxy set here serves every address, whatever no_proxy in the environment says.
        curl_easy_setopt(aEasy, CURLOPT_NOPROXY, "");
        if (aProxy.BasicAuthentication) {
            // Credentials as options, never inside an address, so no error text can carry them.
            curl_easy_setopt(aEasy, CURLOPT_PROXYUSERNAME, aProxyUser.constData());
            curl_easy_setopt(aEasy, CURLOPT_PROXYPASSWORD, aProxyPass.constData());
            curl_easy_setopt(aEasy, CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC));
        }
    } else {
        // No proxy at all: one from the environment is not used either.
        curl_easy_setopt(aEasy, CURLOPT_PROXY, "");
    }
}

} // namespace

TzTransferResult PerformGet(const QByteArray &aUrl, const TzProxySettings &aProxy, const QString &aCaFile,
                            const std::function<bool()> &aCancelled)
{
    std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    TzTransferResult result;
    CURL *easy = curl_easy_init();
    CURLM *multi = curl_multi_init();
    if (!easy || !multi) {
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        result.Reason = QStringLiteral("ошибка обмена");
        return result;
    }
    // The strings the handle points to live until the handle is cleaned up.
    const QByteArray proxyHost = aProxy.ProxyServer.trimmed().toUtf8();
    const QByteArray proxyUser = aProxy.ProxyUsername.toUtf8();
    QByteArray proxyPass = aProxy.ProxyPassword.toUtf8();
    const QByteArray caFile = aCaFile.toLocal8Bit();
    curl_slist *headers = curl_slist_append(nullptr, "Accept-Charset: utf-8");
    TzAnswerSink sink;
    SetupHandle(easy, aUrl, aProxy, proxyHost, proxyUser, proxyPass, caFile, headers, &sink);

    // A multi handle of its own lets the transfer look for cancellation between short waits.
    curl_multi_add_handle(multi, easy);
    CURLcode code = CURLE_OK;
    bool finished = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
                finished = true;
            }
        }
        if (finished || running == 0)
            break;
        if (aCancelled && aCancelled()) {
            result.Cancelled = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, CancelCheckMs, nullptr);
    }
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.HttpCode);
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    proxyPass.fill('\0');

    if (result.Cancelled) {
        result.Reason = QStringLiteral("запрос отменён");
        return result;
    }
    if (!finished && code == CURLE_OK)
        code = CURLE_RECV_ERROR;
    result.Cut = sink.Cut;
    // Stopping the transfer at the size limit is how an oversized answer ends; it is still an answer.
    const bool answered = code == CURLE_OK || (code == CURLE_WRITE_ERROR && sink.Cut);
    if (!answered) {
        result.Reason = FailureReason(code);
    } else if (result.HttpCode >= 400) {
        result.Reason = QStringLiteral("ответ HTTP %1").arg(result.HttpCode);
    } else {
        result.Success = true;
        result.Body = sink.Body;
    }
    return result;
}

TzProxySettings TzHTTP_Request::Proxy() const
{
    std::lock_guard lock(fMutex);
    return fProxy;
}

void TzHTTP_Request::SetProxy(const TzProxySettings &aProxy)
{
    std::lock_guard lock(fMutex);
    fProxy = aProxy;
}

QString TzHTTP_Request::CaFile() const
{
    std::lock_guard lock(fMutex);
    return fCaFile;
}

void TzHTTP_Request::SetCaFile(const QString &aFile)
{
    std::lock_guard lock(fMutex);
    fCaFile = aFile;
}

int TzHTTP_Request::Running() const
{
    return gRunning;
}

bool TzHTTP_Request::SendGetRequest(const QString &aRequest, const QString &, TzCallbackProc aCallback,
                                    QObject *aReceiver)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (aRequest.trimmed().isEmpty() || !app)
        return false;
    static QPointer<QCoreApplication> watched;
    if (watched != app) {
        // One close routine per application object; a new application starts with open doors.
        watched = app;
        gClosing = false;
        qAddPostRoutine(&MarkClosing);
    }
    std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    QObject *receiver = aReceiver ? aReceiver : app;
    const std::shared_ptr<std::atomic<bool>> gone = ReceiverGoneFlag(receiver);
    const QPointer<QObject> guard(receiver);
    const QByteArray url = aRequest.trimmed().toUtf8();
    const TzProxySettings proxy = Proxy();
    const QString caFile = CaFile();

    ++gRunning;
    QThreadPool::globalInstance()->start([url, proxy, caFile, gone, guard, callback = std::move(aCallback)] {
        const TzTransferResult result = PerformGet(url, proxy, caFile, [&gone] { return gClosing || *gone; });
        QCoreApplication *app = QCoreApplication::instance();
        if (callback && !result.Cancelled && !gClosing && !*gone && app) {
            TzCallbackInfo info;
            info.URL = QString::fromUtf8(url);
            info.Success = result.Success;
            info.Cut = result.Cut;
            info.Status = result.Success ? QStringLiteral("OK") : QStringLiteral("Error");
            info.Msg = result.Reason;
            if (result.HttpCode > 0)
                info.Code = QString::number(result.HttpCode);
            info.Answer = QString::fromUtf8(result.Body);

            const auto delivery = std::make_shared<TzDelivery>();
            {
                auto release = std::make_shared<TzDeliveryRelease>(delivery);
                // Posted to the application object, which outlives every task (it waits for the
                // pool before it goes); the receiver is looked at only on the interface thread.
                QMetaObject::invokeMethod(
                    app,
                    [release, guard, gone, callback, info] {
                        if (guard && !*gone)
                            callback(info);
                    },
                    Qt::QueuedConnection);
            }
            std::unique_lock lock(delivery->Mutex);
            while (!delivery->Done && !gClosing && !*gone)
                delivery->Changed.wait_for(lock, HandOverCheck);
        }
        --gRunning;
    });
    return true;
}

TzHTTP_Request &HTTP_Request()
{
    static TzHTTP_Request instance;
    return instance;
}
