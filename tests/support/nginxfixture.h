#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class QProcess;

namespace testsupport {

// A real nginx serving a temporary document root on 127.0.0.1, on a free port, with its own
// configuration, pid file, logs and temp folders. Every request goes to an access log as "METHOD
// URI STATUS BYTES", written just after the answer's last byte: a test that counts requests right
// after a reply finished waits for the count (waitForRequestCount).
class TNginxFixture {
public:
    TNginxFixture();
    ~TNginxFixture();
    TNginxFixture(const TNginxFixture&) = delete;
    TNginxFixture& operator=(const TNginxFixture&) = delete;

    // Before start(): answer exactly this path (e.g. "/config.json") with a fixed
    // status. For 301/302/303/307/308 the text is the redirect target, otherwise
    // the body (nginx's own page when empty).
    void addFixedStatus(const QString& path, int status, const QString& text = QString());
    // Before start(): raw directives placed inside the server block.
    void addServerDirectives(const QString& directives);

    // Starts nginx and waits until it listens. On failure errorString() says why.
    bool start();
    void stop();
    QString errorString() const { return m_errorString; }

    quint16 port() const { return m_port; }
    QString documentRoot() const;
    // http://127.0.0.1:<port>/<relativePath>
    QUrl url(const QString& relativePath) const;
    // Writes a file below the document root, creating its folders.
    bool writeFile(const QString& relativePath, const QByteArray& content) const;
    bool removeFile(const QString& relativePath) const;

    QStringList accessLogLines() const;
    // Requests whose path (without query) equals the given one ("/a/b.json").
    int requestCount(const QString& path) const;
    bool waitForRequestCount(const QString& path, int count, int timeoutMs = 5000) const;
    void clearAccessLog() const;
    QString errorLog() const;

private:
    bool startOnce(bool& portTaken);
    QString configuration() const;
    QString path(const QString& name) const;

    QTemporaryDir m_workDir;
    std::unique_ptr<QProcess> m_pProcess;
    quint16 m_port = 0;
    QMap<QString, QPair<int, QString>> m_fixedStatus;
    QString m_serverDirectives;
    QString m_errorString;
};

} // namespace testsupport
