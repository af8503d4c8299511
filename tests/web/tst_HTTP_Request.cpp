// The web bridge's requester against real servers on loopback: a plain HTTP server, a proxy that
// wants basic authentication, a TLS server with a certificate authority made by the test, a
// listener that never accepts, a server that never answers and a name server that never answers.
// Closing the program while requests are out is run in a child process, as the program itself
// would close.

#include "NeverAccepting.h"
#include "SilentNameServer.h"
#include "WebTestServer.h"
#include "web/uHTTP_Request.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

constexpr int Patience = 30000;

// Collects the outcomes handed to the interface thread.
struct TzOutcomes
{
    QList<TzCallbackInfo> Infos;
    bool OffThread = false;
    TzCallbackProc Callback()
    {
        return [this](const TzCallbackInfo &aInfo) {
            OffThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
            Infos.append(aInfo);
        };
    }
};

// A server on a thread of its own that answers one request at once and closes: its answer
// reaches the requester while the interface thread handles no events at all.
class TzThreadServer
{
public:
    explicit TzThreadServer(const QByteArray &aAnswer)
    {
        fListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fListener < 0 || ::bind(fListener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(fListener, 1) != 0
            || ::getsockname(fListener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        fPort = ntohs(address.sin_port);
        fThread = std::thread([this, aAnswer] { Serve(aAnswer); });
    }
    ~TzThreadServer()
    {
        fStop = true;
        if (fThread.joinable())
            fThread.join();
        if (fListener >= 0)
            ::close(fListener);
    }
    TzThreadServer(const TzThreadServer &) = delete;
    TzThreadServer &operator=(const TzThreadServer &) = delete;

    quint16 Port() const { return fPort; }
    bool Served() const { return fServed; }

private:
    // Waits for aFd in steps, so that the destructor is never kept waiting.
    bool Readable(int aFd)
    {
        while (!fStop) {
            pollfd wait{aFd, POLLIN, 0};
            if (::poll(&wait, 1, 50) > 0)
                return true;
        }
        return false;
    }
    void Serve(const QByteArray &aAnswer)
    {
        if (!Readable(fListener))
            return;
        const int connection = ::accept(fListener, nullptr, nullptr);
        if (connection < 0)
            return;
        QByteArray request;
        char buffer[1024];
        while (!request.contains("\r\n\r\n") && Readable(connection)) {
            const ssize_t n = ::read(connection, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        [[maybe_unused]] const ssize_t sent = ::send(connection, aAnswer.constData(), size_t(aAnswer.size()),
                                                     MSG_NOSIGNAL);
        ::close(connection);
        fServed = true;
    }

    int fListener = -1;
    quint16 fPort = 0;
    std::thread fThread;
    std::atomic<bool> fStop{false};
    std::atomic<bool> fServed{false};
};

QString Text(const TzCallbackInfo &aInfo)
{
    return QStringLiteral("%1 %2 [%3] %4").arg(aInfo.Status, aInfo.Code, aInfo.Msg, aInfo.Answer.left(80));
}

} // namespace

class TestHTTP_Request : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answerArrivesOnTheInterfaceThread();
    void failuresAreReported_data();
    void failuresAreReported();
    void redirectsAreFollowed();
    void oversizedAnswerIsCut();
    void proxyGetsBasicCredentials();
    void proxyPasswordNeverInTheErrorText();
    void httpsIsVerified_data();
    void httpsIsVerified();
    void unacceptedConnectionFailsAfterTheConnectTimeout();
    void silentServiceIsAbandonedAfterTheTotalTimeout();
    void destroyingTheReceiverCancelsItsRequests();
    void closingTheProgramWithRequestsOutNeitherHangsNorCrashes();
    void silentNameServerIsNotWaitedFor();

private:
    std::unique_ptr<TzTestWebServer> fServer;
    TzOutcomes fOutcomes;
};

void TestHTTP_Request::init()
{
    HTTP_Request().SetProxy({});
    HTTP_Request().SetCaFile(QString());
    fServer = std::make_unique<TzTestWebServer>();
    QVERIFY(fServer->Listen());
    fOutcomes = {};
}

void TestHTTP_Request::cleanup()
{
    fServer.reset();
    // No request of one test may leak into the next.
    QTRY_COMPARE_WITH_TIMEOUT(HTTP_Request().Running(), 0, Patience);
}

void TestHTTP_Request::answerArrivesOnTheInterfaceThread()
{
    fServer->Answer = [](const TzSeenRequest &) { return HttpAnswer("1 1<br>2 0"); };
    QVERIFY(!HTTP_Request().SendGetRequest(QStringLiteral("   "), QString(), fOutcomes.Callback(), this));
    const QString address = fServer->Base() + QStringLiteral("discret_outputs.php?device_id=AA&key=k");
    QVERIFY(HTTP_Request().SendGetRequest(address, QStringLiteral("NewReq"), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    const TzCallbackInfo &info = fOutcomes.Infos.front();
    QVERIFY2(info.Success, qPrintable(Text(info)));
    QCOMPARE(info.Answer, QStringLiteral("1 1<br>2 0"));
    QCOMPARE(info.Code, QStringLiteral("200"));
    QCOMPARE(info.URL, address);
    QVERIFY(!info.Cut);
    QVERIFY(!fOutcomes.OffThread);
    QCOMPARE(fServer->Requests.size(), 1);
    const TzSeenRequest &request = fServer->Requests.front();
    QCOMPARE(request.Method, QByteArray("GET"));
    QCOMPARE(request.Path, QByteArray("/discret_outputs.php"));
    QCOMPARE(request.Headers.value("accept-charset"), QByteArray("utf-8"));
}

void TestHTTP_Request::failuresAreReported_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("not found") << HttpAnswer("1 1", "404 Not Found") << QStringLiteral("ответ HTTP 404");
    QTest::newRow("server error") << HttpAnswer("1 1", "500 Internal Server Error") << QStringLiteral("ответ HTTP 500");
    QTest::newRow("closed without a word") << TzTestWebServer::HangUp() << QStringLiteral("соединение прервано");
    QTest::newRow("connection reset") << TzTestWebServer::Reset() << QStringLiteral("соединение прервано");
    QTest::newRow("not HTTP") << QByteArray("hello\r\n") << QStringLiteral("неподдерживаемый протокол");
    QTest::newRow("redirect to a file") << HttpRedirect("file:///etc/passwd")
                                        << QStringLiteral("неподдерживаемый протокол");
}

void TestHTTP_Request::failuresAreReported()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    fServer->Answer = [answer](const TzSeenRequest &) { return answer; };
    QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("x.php"), QString(), fOutcomes.Callback(),
                                          this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    const TzCallbackInfo &info = fOutcomes.Infos.front();
    QVERIFY2(!info.Success, qPrintable(Text(info)));
    QCOMPARE(info.Status, QStringLiteral("Error"));
    QCOMPARE(info.Msg, reason);
    // A failure carries no answer to apply.
    QVERIFY(info.Answer.isEmpty());
}

void TestHTTP_Request::redirectsAreFollowed()
{
    // One hop to the real page is followed; a loop ends at the limit.
    fServer->Answer = [this](const TzSeenRequest &aRequest) {
        if (aRequest.Path == "/old.php")
            return HttpRedirect(fServer->Base().toUtf8() + "new.php?"
                                + aRequest.Target.mid(aRequest.Target.indexOf('?') + 1));
        if (aRequest.Path == "/loop.php")
            return HttpRedirect("/loop.php");
        return HttpAnswer("3 1");
    };
    QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("old.php?key=a"), QString(),
                                          fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    QVERIFY2(fOutcomes.Infos[0].Success, qPrintable(Text(fOutcomes.Infos[0])));
    QCOMPARE(fOutcomes.Infos[0].Answer, QStringLiteral("3 1"));
    QCOMPARE(fServer->Requests.back().Path, QByteArray("/new.php"));
    QCOMPARE(fServer->Requests.back().Query.value(QStringLiteral("key")), QStringLiteral("a"));

    fServer->Requests.clear();
    QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("loop.php"), QString(), fOutcomes.Callback(),
                                          this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 2, Patience);
    QVERIFY(!fOutcomes.Infos[1].Success);
    QCOMPARE(fOutcomes.Infos[1].Msg, QStringLiteral("слишком много перенаправлений"));
    QCOMPARE(fServer->Requests.size(), int(TzHTTP_Request::MaxRedirects) + 1);
}

void TestHTTP_Request::oversizedAnswerIsCut()
{
    const QByteArray huge(10 * 1024 * 1024, 'x');
    fServer->Answer = [&huge](const TzSeenRequest &) { return HttpAnswer(huge); };
    QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("big.php"), QString(), fOutcomes.Callback(),
                                          this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    const TzCallbackInfo &info = fOutcomes.Infos.front();
    QVERIFY2(info.Success, qPrintable(Text(info)));
    QVERIFY(info.Cut);
    QCOMPARE(info.Answer.size(), TzHTTP_Request::MaxAnswerBytes);
}

void TestHTTP_Request::proxyGetsBasicCredentials()
{
    // The test server plays the proxy: it gets the whole address and answers itself.
    fServer->Answer = [](const TzSeenRequest &) { return HttpAnswer("1 0"); };
    TzProxySettings proxy;
    proxy.UseProxy = true;
    proxy.ProxyServer = QStringLiteral("127.0.0.1");
    proxy.ProxyPort = fServer->Port();
    proxy.BasicAuthentication = true;
    proxy.ProxyUsername = QStringLiteral("оператор");
    proxy.ProxyPassword = QStringLiteral("p@ss:w rd");
    HTTP_Request().SetProxy(proxy);
    // The service's port: nothing listens there, only the proxy is reached.
    const QString target = QStringLiteral("http://127.0.0.1:9/discret_outputs.php?key=k");
    QVERIFY(HTTP_Request().SendGetRequest(target, QString(), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    QVERIFY2(fOutcomes.Infos[0].Success, qPrintable(Text(fOutcomes.Infos[0])));
    QCOMPARE(fServer->Requests.size(), 1);
    QCOMPARE(fServer->Requests[0].Target, target.toUtf8());
    QCOMPARE(fServer->Requests[0].Headers.value("proxy-authorization"),
             "Basic " + QStringLiteral("оператор:p@ss:w rd").toUtf8().toBase64());

    // Without the login the proxy is used without credentials.
    proxy.BasicAuthentication = false;
    HTTP_Request().SetProxy(proxy);
    QVERIFY(HTTP_Request().SendGetRequest(target, QString(), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 2, Patience);
    QCOMPARE(fServer->Requests.size(), 2);
    QVERIFY(!fServer->Requests[1].Headers.contains("proxy-authorization"));
}

void TestHTTP_Request::proxyPasswordNeverInTheErrorText()
{
    const QString password = QStringLiteral("Tайна-42");
    TzProxySettings proxy;
    proxy.UseProxy = true;
    proxy.BasicAuthentication = true;
    proxy.ProxyUsername = QStringLiteral("user");
    proxy.ProxyPassword = password;
    // A proxy that refuses the credentials, a proxy that is not there, a proxy named with its
    // credentials in the address.
    fServer->Answer = [](const TzSeenRequest &) {
        return QByteArray("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"q\"\r\n"
                          "Content-Length: 0\r\nConnection: close\r\n\r\n");
    };
    const QStringList servers{QStringLiteral("127.0.0.1:%1").arg(fServer->Port()), QStringLiteral("127.0.0.1:9"),
                              QStringLiteral("http://user:%1@127.0.0.1:9").arg(password)};
    for (const QString &server : servers) {
        proxy.ProxyServer = server;
        HTTP_Request().SetProxy(proxy);
        QVERIFY(HTTP_Request().SendGetRequest(QStringLiteral("http://127.0.0.1:9/a.php"), QString(),
                                              fOutcomes.Callback(), this));
    }
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 3, Patience);
    for (const TzCallbackInfo &info : std::as_const(fOutcomes.Infos)) {
        QVERIFY(!info.Success);
        QVERIFY2(!Text(info).contains(password), qPrintable(Text(info)));
        QVERIFY2(!Text(info).contains(QStringLiteral("Tайна")), qPrintable(Text(info)));
    }
}

void TestHTTP_Request::httpsIsVerified_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("answered");
    QTest::newRow("trusted authority") << true << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("trusted authority, by name") << true << QStringLiteral("localhost") << true;
    QTest::newRow("unknown authority") << false << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("another host name") << true << QStringLiteral("127.0.0.2") << false;
}

void TestHTTP_Request::httpsIsVerified()
{
    QFETCH(bool, trusted);
    QFETCH(QString, host);
    QFETCH(bool, answered);
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    TzTestAuthority authority;
    QVERIFY2(authority.Make(), qPrintable(authority.LastError));
    const QSslConfiguration tls = authority.ServerConfiguration();
    TzTestWebServer server(&tls);
    QVERIFY(server.Listen(QHostAddress(host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host)));
    server.Answer = [](const TzSeenRequest &) { return HttpAnswer("5 1"); };
    if (trusted)
        HTTP_Request().SetCaFile(authority.CaFile());
    QVERIFY(HTTP_Request().SendGetRequest(server.Base(QStringLiteral("https"), host)
                                              + QStringLiteral("discret_outputs.php"),
                                          QString(), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    const TzCallbackInfo &info = fOutcomes.Infos.front();
    QVERIFY2(info.Success == answered, qPrintable(Text(info)));
    if (answered) {
        QCOMPARE(info.Answer, QStringLiteral("5 1"));
        QCOMPARE(server.Requests.size(), 1);
    } else {
        QVERIFY(info.Answer.isEmpty());
        QCOMPARE(info.Msg, QStringLiteral("сертификат сервера не прошёл проверку"));
        // The request itself never crossed the unverified link.
        QCOMPARE(server.Requests.size(), 0);
    }
}

void TestHTTP_Request::unacceptedConnectionFailsAfterTheConnectTimeout()
{
    TzNeverAccepting silent;
    QVERIFY(silent.Port() != 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(HTTP_Request().SendGetRequest(QStringLiteral("http://127.0.0.1:%1/discret_outputs.php").arg(silent.Port()),
                                          QString(), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    qInfo("unaccepted connection given up after %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(!fOutcomes.Infos[0].Success);
    QCOMPARE(fOutcomes.Infos[0].Msg, QStringLiteral("время ожидания истекло"));
}

void TestHTTP_Request::silentServiceIsAbandonedAfterTheTotalTimeout()
{
    fServer->Answer = [](const TzSeenRequest &) { return QByteArray(); };
    QElapsedTimer clock;
    clock.start();
    QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("discret_outputs.php"), QString(),
                                          fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fServer->Requests.size(), 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, Patience);
    qInfo("silent service given up after %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(!fOutcomes.Infos[0].Success);
    QCOMPARE(fOutcomes.Infos[0].Msg, QStringLiteral("время ожидания истекло"));
    QCOMPARE(HTTP_Request().Running(), 0);
    // The connection was given up, not left open.
    QTRY_COMPARE_WITH_TIMEOUT(fServer->OpenConnections(), 0, Patience);
}

void TestHTTP_Request::destroyingTheReceiverCancelsItsRequests()
{
    fServer->Answer = [](const TzSeenRequest &) { return QByteArray(); };
    auto *receiver = new QObject;
    for (int i = 0; i < 3; ++i)
        QVERIFY(HTTP_Request().SendGetRequest(fServer->Base() + QStringLiteral("a.php"), QString(),
                                              fOutcomes.Callback(), receiver));
    QTRY_VERIFY_WITH_TIMEOUT(fServer->Requests.size() >= 1, Patience);
    QCOMPARE(HTTP_Request().Running(), 3);
    delete receiver;
    // Well before the total time-out every transfer has stopped, and nothing was delivered.
    QTRY_COMPARE_WITH_TIMEOUT(HTTP_Request().Running(), 0, int(TzHTTP_Request::TotalTimeoutMs / 2));
    QTRY_COMPARE_WITH_TIMEOUT(fServer->OpenConnections(), 0, Patience);
    QCoreApplication::processEvents();
    QVERIFY(fOutcomes.Infos.isEmpty());

    // An answer already posted when its receiver goes is dropped as well. The server answers from
    // its own thread: the interface thread handles no event (the posted answer included) from the
    // request until the receiver is gone.
    TzThreadServer answering(HttpAnswer("1 1"));
    QVERIFY(answering.Port() != 0);
    receiver = new QObject;
    QVERIFY(HTTP_Request().SendGetRequest(QStringLiteral("http://127.0.0.1:%1/a.php").arg(answering.Port()), QString(),
                                          fOutcomes.Callback(), receiver));
    QElapsedTimer served;
    served.start();
    while (!answering.Served() && served.elapsed() < Patience)
        QThread::msleep(10);
    QVERIFY(answering.Served());
    QThread::msleep(300); // the requester reads the answer and posts it meanwhile
    delete receiver;
    QTRY_COMPARE_WITH_TIMEOUT(HTTP_Request().Running(), 0, Patience);
    QCoreApplication::processEvents();
    QVERIFY(fOutcomes.Infos.isEmpty());
}

void TestHTTP_Request::closingTheProgramWithRequestsOutNeitherHangsNorCrashes()
{
    fServer->Answer = [](const TzSeenRequest &) { return QByteArray(); };
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--close-while-busy"), QString::number(fServer->Port())});
    QVERIFY(child.waitForStarted());
    // The child closes half a second after its requests reached the server; had it waited for their
    // time-out, it would take more than TotalTimeoutMs.
    QTRY_VERIFY_WITH_TIMEOUT(fServer->Requests.size() >= 2, Patience);
    QVERIFY(child.waitForFinished(int(TzHTTP_Request::TotalTimeoutMs) - 2000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(child.readAllStandardOutput().contains("delivered 0"), "an answer reached a closing program");
}

// The child of closingTheProgram...: sends requests to a server that never answers, one for the
// application and one for a receiver that lives to the end, and closes while they are out.
static int CloseWhileBusy(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(QString::fromLatin1(argv[2]));
    int delivered = 0;
    QObject receiver;
    HTTP_Request().SendGetRequest(base + QStringLiteral("one.php"), QString(),
                                  [&delivered](const TzCallbackInfo &) { ++delivered; });
    HTTP_Request().SendGetRequest(
        base + QStringLiteral("two.php"), QString(), [&delivered](const TzCallbackInfo &) { ++delivered; }, &receiver);
    QTimer::singleShot(1500, &app, &QCoreApplication::quit);
    app.exec();
    printf("delivered %d\n", delivered);
    fflush(stdout);
    return 0;
}

void TestHTTP_Request::silentNameServerIsNotWaitedFor()
{
    const QString url = QStringLiteral("http://%1/a.php").arg(QLatin1String(SilentHostName));
    // Left alone, the request fails at the connect time-out, as with a service that does not
    // answer; the lookup, which goes on, is not waited for.
    QElapsedTimer waiting;
    waiting.start();
    QVERIFY(HTTP_Request().SendGetRequest(url, QString(), fOutcomes.Callback(), this));
    QTRY_COMPARE_WITH_TIMEOUT(fOutcomes.Infos.size(), 1, int(TzHTTP_Request::ConnectTimeoutMs) + 3000);
    qInfo("left alone, the request failed after %lld ms", static_cast<long long>(waiting.elapsed()));
    QVERIFY(!fOutcomes.Infos.front().Success);
    QCOMPARE(fOutcomes.Infos.front().Msg, QStringLiteral("время ожидания истекло"));
    QTRY_COMPARE_WITH_TIMEOUT(HTTP_Request().Running(), 0, Patience);
    QCOMPARE(SilentNameServer::Holding(), 1);

    // The receiver goes while its service's name is being looked up: the request ends well within
    // the connect time-out.
    fOutcomes = {};
    auto *receiver = new QObject;
    QVERIFY(HTTP_Request().SendGetRequest(url, QString(), fOutcomes.Callback(), receiver));
    QTRY_COMPARE_WITH_TIMEOUT(SilentNameServer::Holding(), 2, Patience);
    QElapsedTimer cancelling;
    cancelling.start();
    delete receiver;
    QTRY_COMPARE_WITH_TIMEOUT(HTTP_Request().Running(), 0, int(TzHTTP_Request::ConnectTimeoutMs) - 1000);
    qInfo("cancelled during the lookup: the request ended after %lld ms", static_cast<long long>(cancelling.elapsed()));
    QCOMPARE(SilentNameServer::Holding(), 2);
    SilentNameServer::Release();
    QTRY_COMPARE_WITH_TIMEOUT(SilentNameServer::Holding(), 0, Patience);
    QCoreApplication::processEvents();
    QVERIFY(fOutcomes.Infos.isEmpty());

    // A program closes while its only request's name is being looked up (held for a minute there).
    QProcess child;
    QElapsedTimer closing;
    closing.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--close-while-resolving")});
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForFinished(int(TzHTTP_Request::ConnectTimeoutMs) + 5000), "closing waited for the lookup");
    const QByteArray said = child.readAllStandardOutput();
    qInfo("a program closing during the lookup ran %lld ms: %s", static_cast<long long>(closing.elapsed()),
          said.trimmed().constData());
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QVERIFY2(said.contains("held 1, delivered 0"), said.constData());
}

// The child of silentNameServerIsNotWaitedFor: quits once its request's name lookup is held, and
// says how long the application took to go after that.
static int CloseWhileResolving(int argc, char *argv[])
{
    int held = 0;
    int delivered = 0;
    qint64 goneAfter = 0;
    {
        QCoreApplication app(argc, argv);
        HTTP_Request().SendGetRequest(QStringLiteral("http://%1/a.php").arg(QLatin1String(SilentHostName)), QString(),
                                      [&delivered](const TzCallbackInfo &) { ++delivered; });
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &app, [&app, &held] {
            held = SilentNameServer::Holding();
            if (held > 0)
                app.quit();
        });
        look.start(10);
        QTimer::singleShot(Patience, &app, &QCoreApplication::quit);
        app.exec();
        QElapsedTimer going;
        going.start();
        // The application waits for the requester's threads as it goes.
        QObject::connect(&app, &QObject::destroyed, [&going, &goneAfter] { goneAfter = going.elapsed(); });
    }
    printf("held %d, delivered %d, closed in %lld ms\n", held, delivered, static_cast<long long>(goneAfter));
    fflush(stdout);
    // Only now: a lookup still held keeps a thread of this program waiting.
    SilentNameServer::Release();
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--close-while-busy") == 0)
        return CloseWhileBusy(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--close-while-resolving") == 0)
        return CloseWhileResolving(argc, argv);
    QCoreApplication app(argc, argv);
    TestHTTP_Request test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HTTP_Request.moc"
