#pragma once
// A small HTTP server for the web bridge's tests, on loopback only: plain or TLS, it records every
// request (request line, headers, the query decoded as PHP decodes it) and answers through a
// function the test sets, which may also choose never to answer. TzTestAuthority makes a
// certificate authority and a server certificate with the openssl command line.

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <sys/socket.h>

#include <functional>
#include <memory>

struct TzSeenRequest
{
    QByteArray Method;
    QByteArray Target;                    // as sent: a path, or a whole address when sent to a proxy
    QMap<QByteArray, QByteArray> Headers; // names in lower case
    QByteArray Path;
    QMap<QString, QString> Query;
};

// What PHP's $_GET would hold: "+" is a space, %XX a byte, the bytes UTF-8.
inline QMap<QString, QString> PhpQuery(const QByteArray &aQuery)
{
    QMap<QString, QString> values;
    for (const QByteArray &pair : aQuery.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        QByteArray name = eq < 0 ? pair : pair.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        values.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return values;
}

inline QByteArray HttpAnswer(const QByteArray &aBody, const QByteArray &aStatus = "200 OK")
{
    return "HTTP/1.1 " + aStatus + "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
           + QByteArray::number(aBody.size()) + "\r\nConnection: close\r\n\r\n" + aBody;
}

inline QByteArray HttpRedirect(const QByteArray &aLocation)
{
    return "HTTP/1.1 302 Found\r\nLocation: " + aLocation + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

class TzTestWebServer
{
public:
    // Returns the raw answer; an empty one means: keep the connection open and never answer; HangUp()
    // closes the connection without a word, Reset() resets it.
    using Responder = std::function<QByteArray(const TzSeenRequest &aRequest)>;

    explicit TzTestWebServer(const QSslConfiguration *aTls = nullptr)
    {
        if (aTls) {
            auto *tls = new QSslServer;
            tls->setSslConfiguration(*aTls);
            QObject::connect(tls, &QSslServer::startedEncryptionHandshake, [this] { ++Handshakes; });
            fServer.reset(tls);
        } else {
            fServer = std::make_unique<QTcpServer>();
        }
        QObject::connect(fServer.get(), &QTcpServer::newConnection, [this] { Accept(); });
        // A TLS server announces a connection before its handshake and queues it only afterwards.
        QObject::connect(fServer.get(), &QTcpServer::pendingConnectionAvailable, [this] { Accept(); });
    }
    ~TzTestWebServer()
    {
        for (QTcpSocket *socket : std::as_const(fSockets))
            socket->abort();
    }

    bool Listen(const QHostAddress &aAddress = QHostAddress::LocalHost) { return fServer->listen(aAddress); }
    quint16 Port() const { return fServer->serverPort(); }
    QString Base(const QString &aScheme = QStringLiteral("http"),
                 const QString &aHost = QStringLiteral("127.0.0.1")) const
    {
        return QStringLiteral("%1://%2:%3/").arg(aScheme, aHost).arg(Port());
    }
    // Connections that are open right now.
    int OpenConnections() const
    {
        int open = 0;
        for (QTcpSocket *socket : fSockets)
            if (socket->state() == QAbstractSocket::ConnectedState)
                ++open;
        return open;
    }
    void Close()
    {
        fServer->close();
        for (QTcpSocket *socket : std::as_const(fSockets))
            socket->abort();
    }

    static QByteArray HangUp() { return QByteArrayLiteral("\x01hang up"); }
    // Resets the connection (TCP RST) instead of answering, as a crashing service or a firewall does.
    static QByteArray Reset() { return QByteArrayLiteral("\x01reset"); }
    // Keeps the request waiting until Release() answers it: a service slow this once.
    static QByteArray Hold() { return QByteArrayLiteral("\x01hold"); }
    int HeldCount() const { return int(fHeld.size()); }
    // Answers the oldest request held; false when none waits.
    bool Release(const QByteArray &aAnswer)
    {
        while (!fHeld.isEmpty()) {
            QTcpSocket *socket = fHeld.takeFirst();
            if (socket->state() != QAbstractSocket::ConnectedState)
                continue;
            socket->write(aAnswer);
            socket->disconnectFromHost();
            return true;
        }
        return false;
    }

    Responder Answer = [](const TzSeenRequest &) { return HttpAnswer(""); };
    QList<TzSeenRequest> Requests;
    int Accepted = 0;
    int Handshakes = 0; // TLS handshakes begun, whether they succeed or not

private:
    void Accept()
    {
        while (QTcpSocket *socket = fServer->nextPendingConnection()) {
            ++Accepted;
            fSockets.append(socket);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                buffer->append(socket->readAll());
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                Serve(socket, buffer->left(end));
                buffer->remove(0, end + 4);
            });
            // Data that arrived with the handshake is already waiting.
            if (socket->bytesAvailable() > 0)
                QMetaObject::invokeMethod(socket, [socket] { emit socket->readyRead(); }, Qt::QueuedConnection);
        }
    }

    void Serve(QTcpSocket *aSocket, const QByteArray &aHead)
    {
        TzSeenRequest request;
        const QList<QByteArray> lines = aHead.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.Method = first.value(0);
        request.Target = first.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.Headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        QByteArray target = request.Target;
        if (target.startsWith("http://") || target.startsWith("https://"))
            target = target.mid(target.indexOf('/', target.indexOf("//") + 2));
        const qsizetype question = target.indexOf('?');
        request.Path = question < 0 ? target : target.left(question);
        request.Query = PhpQuery(question < 0 ? QByteArray() : target.mid(question + 1));
        Requests.append(request);
        const QByteArray answer = Answer(request);
        if (answer.isEmpty())
            return;
        if (answer == Hold()) {
            fHeld.append(aSocket);
            return;
        }
        if (answer == HangUp()) {
            aSocket->abort();
            return;
        }
        if (answer == Reset()) {
            // Closing with a zero linger time sends a reset instead of the orderly end.
            const linger now{1, 0};
            ::setsockopt(int(aSocket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
            aSocket->abort();
            return;
        }
        aSocket->write(answer);
        aSocket->disconnectFromHost();
    }

    std::unique_ptr<QTcpServer> fServer;
    QList<QTcpSocket *> fSockets;
    QList<QTcpSocket *> fHeld;
};

// A certificate authority of the test's own and a server certificate it signed, for 127.0.0.1 and
// localhost, made with the openssl command line in a temporary folder.
class TzTestAuthority
{
public:
    bool Make()
    {
        if (!fDir.isValid())
            return false;
        const QString ext = fDir.filePath(QStringLiteral("server.ext"));
        QFile extFile(ext);
        if (!extFile.open(QIODevice::WriteOnly))
            return false;
        extFile.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                      "extendedKeyUsage=serverAuth\n");
        extFile.close();
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        return Run(QStringList{"req", "-x509"} + ec
                   + QStringList{"-keyout", Path("ca.key"), "-out", CaFile(), "-days", "2", "-subj",
                                 "/CN=Quadrel Test Authority", "-addext", "basicConstraints=critical,CA:TRUE",
                                 "-addext", "keyUsage=critical,keyCertSign,cRLSign"})
               && Run(
                   QStringList{"req"} + ec
                   + QStringList{"-keyout", Path("server.key"), "-out", Path("server.csr"), "-subj", "/CN=127.0.0.1"})
               && Run({"x509", "-req", "-in", Path("server.csr"), "-CA", CaFile(), "-CAkey", Path("ca.key"),
                       "-CAcreateserial", "-out", Path("server.pem"), "-days", "2", "-extfile", ext});
    }

    QString CaFile() const { return Path("ca.pem"); }

    QSslConfiguration ServerConfiguration() const
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        QFile cert(Path("server.pem"));
        QFile key(Path("server.key"));
        if (cert.open(QIODevice::ReadOnly))
            configuration.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
        if (key.open(QIODevice::ReadOnly))
            configuration.setPrivateKey(QSslKey(&key, QSsl::Ec, QSsl::Pem));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        return configuration;
    }

    QString LastError;

private:
    QString Path(const char *aName) const { return fDir.filePath(QString::fromLatin1(aName)); }

    bool Run(const QStringList &aArguments)
    {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), aArguments);
        if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
            LastError = QString::fromLocal8Bit(openssl.readAllStandardError());
            return false;
        }
        return true;
    }

    QTemporaryDir fDir;
};
