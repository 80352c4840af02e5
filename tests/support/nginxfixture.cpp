#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testdata.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

namespace testsupport {

namespace {

QString nginxExecutable() {
    const QString overridden = qEnvironmentVariable("LAUNCHER_TEST_NGINX");
    return overridden.isEmpty() ? u"/usr/sbin/nginx"_qs : overridden;
}

// A port nobody listens on right now. Another process may take it before nginx
// binds it; start() then notices "Address already in use" and picks again.
quint16 pickFreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString quoted(const QString& text) {
    QString escaped = text;
    escaped.replace(u'\\', u"\\\\"_qs).replace(u'"', u"\\\""_qs);
    return u'"' + escaped + u'"';
}

} // namespace

TNginxFixture::TNginxFixture() {
    QDir(m_workDir.path()).mkpath(u"htdocs"_qs);
    QDir(m_workDir.path()).mkpath(u"temp"_qs);
    QDir(m_workDir.path()).mkpath(u"logs"_qs);
}

TNginxFixture::~TNginxFixture() {
    stop();
}

void TNginxFixture::addFixedStatus(const QString& path, int status, const QString& text) {
    m_fixedStatus.insert(path, qMakePair(status, text));
}

void TNginxFixture::addServerDirectives(const QString& directives) {
    m_serverDirectives += directives + u'\n';
}

bool TNginxFixture::start() {
    if (!m_workDir.isValid()) {
        m_errorString = u"cannot create a temporary folder for nginx"_qs;
        return false;
    }
    if (!QFileInfo(nginxExecutable()).isExecutable()) {
        m_errorString =
            u"nginx is missing: %1 is not an executable (install nginx-light)"_qs.arg(nginxExecutable());
        return false;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        bool portTaken = false;
        if (startOnce(portTaken))
            return true;
        if (!portTaken)
            return false;
    }
    m_errorString = u"nginx found no free port after 20 attempts"_qs;
    return false;
}

bool TNginxFixture::startOnce(bool& portTaken) {
    m_port = pickFreePort();
    if (m_port == 0) {
        m_errorString = u"cannot find a free port on 127.0.0.1"_qs;
        return false;
    }
    QFile::remove(path(u"nginx.pid"_qs));
    QFile::remove(path(u"logs/error.log"_qs));
    const QString config = path(u"nginx.conf"_qs);
    if (!writeBytes(config, configuration().toUtf8())) {
        m_errorString = u"cannot write %1"_qs.arg(config);
        return false;
    }

    m_pProcess = std::make_unique<QProcess>();
    m_pProcess->setProcessChannelMode(QProcess::MergedChannels);
    m_pProcess->start(nginxExecutable(), {u"-p"_qs, m_workDir.path() + u'/', u"-e"_qs,
                                          path(u"logs/error.log"_qs), u"-c"_qs, config});
    if (!m_pProcess->waitForStarted(10000)) {
        m_errorString = u"nginx did not start: %1"_qs.arg(m_pProcess->errorString());
        m_pProcess.reset();
        return false;
    }
    // nginx writes its pid file only after every listening socket is bound.
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_pProcess->state() != QProcess::Running) {
            const QString output = QString::fromLocal8Bit(m_pProcess->readAll()) + errorLog();
            portTaken = output.contains(u"Address already in use"_qs);
            m_errorString = u"nginx ended at start: %1"_qs.arg(output);
            m_pProcess.reset();
            return false;
        }
        if (QFileInfo(path(u"nginx.pid"_qs)).size() > 0)
            return true;
        m_pProcess->waitForFinished(20);
    }
    m_errorString = u"nginx did not come up within 15 s: %1"_qs.arg(errorLog());
    stop();
    return false;
}

void TNginxFixture::stop() {
    if (!m_pProcess)
        return;
    if (m_pProcess->state() != QProcess::NotRunning) {
        m_pProcess->terminate();
        if (!m_pProcess->waitForFinished(5000)) {
            m_pProcess->kill();
            m_pProcess->waitForFinished(5000);
        }
    }
    m_pProcess.reset();
}

QString TNginxFixture::documentRoot() const {
    return path(u"htdocs"_qs);
}

QUrl TNginxFixture::url(const QString& relativePath) const {
    QString relative = relativePath;
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    return QUrl(u"http://127.0.0.1:%1/%2"_qs.arg(m_port).arg(relative));
}

bool TNginxFixture::writeFile(const QString& relativePath, const QByteArray& content) const {
    return writeBytes(documentRoot() + u'/' + relativePath, content);
}

bool TNginxFixture::removeFile(const QString& relativePath) const {
    return QFile::remove(documentRoot() + u'/' + relativePath);
}

QStringList TNginxFixture::accessLogLines() const {
    return QString::fromUtf8(readBytes(path(u"logs/access.log"_qs))).split(u'\n', Qt::SkipEmptyParts);
}

int TNginxFixture::requestCount(const QString& path) const {
    int count = 0;
    for (const QString& line : accessLogLines()) {
        const QStringList fields = line.split(u' ');
        if (fields.size() >= 2 && fields.at(1).section(u'?', 0, 0) == path)
            ++count;
    }
    return count;
}

bool TNginxFixture::waitForRequestCount(const QString& path, int count, int timeoutMs) const {
    return QTest::qWaitFor([&] { return requestCount(path) >= count; }, timeoutMs) &&
           requestCount(path) == count;
}

void TNginxFixture::clearAccessLog() const {
    // nginx appends (O_APPEND), so truncating in place is safe while it runs.
    QFile log(path(u"logs/access.log"_qs));
    if (log.exists())
        log.resize(0);
}

QString TNginxFixture::errorLog() const {
    return QString::fromUtf8(readBytes(path(u"logs/error.log"_qs)));
}

QString TNginxFixture::path(const QString& name) const {
    return m_workDir.path() + u'/' + name;
}

QString TNginxFixture::configuration() const {
    QString fixed;
    for (auto it = m_fixedStatus.cbegin(); it != m_fixedStatus.cend(); ++it) {
        const int status = it.value().first;
        const QString& text = it.value().second;
        const QString answer =
            text.isEmpty() ? QString::number(status) : u"%1 %2"_qs.arg(status).arg(quoted(text));
        fixed += u"        location = %1 { return %2; }\n"_qs.arg(quoted(it.key()), answer);
    }
    const QString temp = path(u"temp"_qs);
    return QStringLiteral(R"(daemon off;
master_process off;
worker_processes 1;
pid %1;
lock_file %2;
error_log %3 info;
events { worker_connections 512; }
http {
    log_format fixture '$request_method $request_uri $status $body_bytes_sent';
    access_log %4 fixture;
    client_body_temp_path %5/body;
    proxy_temp_path %5/proxy;
    fastcgi_temp_path %5/fastcgi;
    uwsgi_temp_path %5/uwsgi;
    scgi_temp_path %5/scgi;
    types {
        application/json json;
        text/html html;
        text/plain txt;
        image/png png;
    }
    default_type application/octet-stream;
    keepalive_requests 100000;
    server {
        listen 127.0.0.1:%6;
        server_name localhost;
        root %7;
%8%9        location / { }
    }
}
)")
        .arg(path(u"nginx.pid"_qs), path(u"nginx.lock"_qs), path(u"logs/error.log"_qs),
             path(u"logs/access.log"_qs), temp)
        .arg(m_port)
        .arg(documentRoot(), fixed, m_serverDirectives);
}

} // namespace testsupport
