#pragma once
// TzHTTP_Request: the web bridge's HTTP client. Every GET runs as its own task on the shared thread
// pool with its own libcurl handle, and its outcome is handed to the interface thread: the task
// posts it and waits until it has been handled, until the receiving object is gone, or until the
// program closes, so neither closing the program nor destroying the receiver can deadlock on it,
// and a callback never reaches a destroyed receiver.
//
// A slow or hostile service cannot hold a pool thread for long: the connection must be made within
// ConnectTimeoutMs, the whole exchange within TotalTimeoutMs, and an answer is kept up to
// MaxAnswerBytes (the transfer stops there and the rest is dropped). Redirects are followed up to
// MaxRedirects, to http and https only. https is verified against the system's trust store,
// host name included.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <mutex>

// The outcome of one request. Success says whether an answer arrived; only then is Answer
// meaningful. Msg is the reason of a failure in the operator's language; it never holds the proxy
// password.
struct TzCallbackInfo
{
    QString Msg;
    QString URL;
    QString Code;   // the HTTP status code, or empty when no answer arrived
    QString Answer; // the body as UTF-8 text, at most MaxAnswerBytes of it
    QString Status; // "OK" or "Error"
    bool Success = false;
    bool Cut = false; // the answer was longer than MaxAnswerBytes; the rest was dropped
};

using TzCallbackProc = std::function<void(const TzCallbackInfo &aInfo)>;

struct TzProxySettings
{
    bool UseProxy = false;
    bool BasicAuthentication = false;
    QString ProxyServer;
    int ProxyPort = 0;
    QString ProxyUsername;
    QString ProxyPassword;
};

// What one transfer came to, before it is handed to the interface thread.
struct TzTransferResult
{
    bool Success = false;
    bool Cut = false;
    bool Cancelled = false;
    long HttpCode = 0;
    QByteArray Body;
    QString Reason; // empty on success
};

class TzHTTP_Request
{
public:
    static constexpr long ConnectTimeoutMs = 5000;
    static constexpr long TotalTimeoutMs = 10000;
    static constexpr qsizetype MaxAnswerBytes = 64 * 1024;
    static constexpr long MaxRedirects = 5;

    // The proxy used by the requests sent from now on; a request takes its copy when it is sent.
    TzProxySettings Proxy() const;
    void SetProxy(const TzProxySettings &aProxy);
    // The certificate authorities https answers are checked against: empty (the default) means the
    // system's trust store; tests name an authority of their own.
    QString CaFile() const;
    void SetCaFile(const QString &aFile);

    // Performs the GET in the background and returns at once; false when nothing was started (an
    // empty address). When aCallback is given it runs on the interface thread with the outcome,
    // success or failure, as long as aReceiver lives; destroying aReceiver cancels the transfer and
    // drops the outcome. aCode is accepted and not used. Call on the interface thread.
    bool SendGetRequest(const QString &aRequest, const QString &aCode, TzCallbackProc aCallback,
                        QObject *aReceiver = nullptr);

    // Requests started and not yet finished (for tests and benchmarks).
    int Running() const;

private:
    mutable std::mutex fMutex;
    TzProxySettings fProxy;
    QString fCaFile;
};

// The process-wide requester.
TzHTTP_Request &HTTP_Request();

// Performs one GET on the calling thread. aCancelled is asked several times a second; a true
// answer ends the transfer at once.
TzTransferResult PerformGet(const QByteArray &aUrl, const TzProxySettings &aProxy, const QString &aCaFile,
                            const std::function<bool()> &aCancelled);
