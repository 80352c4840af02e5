#include "launcher/logging/logging.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <vector>

using mirrel::launcher::setupLogging;
using testsupport::operator""_qs;

namespace {

// "yyyy-MM-dd hh:mm:ss (file:line) Kind: message", nothing before or after.
const QRegularExpression linePattern(QStringLiteral(
    R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \(([^()]*):(\d+)\) (Debug|Info|Warning|Critical): (.*)$)"));

const char childModeVariable[] = "LOGGING_TEST_CHILD";
const char childLogVariable[] = "LOGGING_TEST_LOG";

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QString text = QString::fromUtf8(file.readAll());
    if (!text.isEmpty() && !text.endsWith(u'\n')) {
        return {u"<last line not ended>"_qs};
    }
    return text.split(u'\n', Qt::SkipEmptyParts);
}

// Runs in a copy of this test executable: logs one line, then a fatal message.
int runFatalChild() {
    setupLogging(qEnvironmentVariable(childLogVariable));
    qInfo("before the fatal message");
    qFatal("the fatal message");
    return 0;
}

class TLoggingThread : public QThread {
public:
    TLoggingThread(int index, int count)
        : m_index(index)
        , m_count(count) {}

protected:
    void run() override {
        // Long messages make torn writes likely if the lock did not hold.
        const QString padding(300, QLatin1Char('A' + m_index));
        for (int i = 0; i < m_count; ++i) {
            qInfo().noquote() << u"thread %1 line %2 %3"_qs.arg(m_index).arg(i).arg(padding);
        }
    }

private:
    int m_index;
    int m_count;
};

} // namespace

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_directory = std::make_unique<QTemporaryDir>();
        QVERIFY(m_directory->isValid());
        m_logPath = m_directory->filePath(u"launcher.log"_qs);
    }

    void cleanup() { qInstallMessageHandler(nullptr); }

    void messagesBeforeSetupDoNotReachTheFile() {
        qInfo("logged before the log file exists");
        setupLogging(m_logPath);
        qInfo("logged after set-up");

        const QStringList lines = fileLines(m_logPath);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(u"Info: logged after set-up"_qs), qPrintable(lines.first()));
    }

    void eachLineHasExactlyTheForm() {
        setupLogging(m_logPath);
        const int firstLine = __LINE__ + 1;
        qDebug("debug text");
        qInfo("info text");
        qWarning("warning text");
        qCritical("critical text with %%1 and %s", "an argument");

        const QStringList lines = fileLines(m_logPath);
        QCOMPARE(lines.size(), 4);
        const QStringList kinds{"Debug", "Info", "Warning", "Critical"};
        const QStringList texts{"debug text", "info text", "warning text",
                                "critical text with %1 and an argument"};
        for (int i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = linePattern.match(lines[i]);
            QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(match.captured(1), QStringLiteral(__FILE__));
            QCOMPARE(match.captured(2).toInt(), firstLine + i);
            QCOMPARE(match.captured(3), kinds[i]);
            QCOMPARE(match.captured(4), texts[i]);
        }
        // The time stamp is the local time of writing.
        const QDateTime stamp = QDateTime::fromString(lines.first().left(19), u"yyyy-MM-dd hh:mm:ss"_qs);
        QVERIFY(stamp.isValid());
        QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 3600);
    }

    void concurrentThreadsWriteWholeLines() {
        setupLogging(m_logPath);
        const int threadCount = 8;
        const int linesPerThread = 400;
        std::vector<std::unique_ptr<TLoggingThread>> threads;
        for (int i = 0; i < threadCount; ++i) {
            threads.push_back(std::make_unique<TLoggingThread>(i, linesPerThread));
        }
        for (auto& thread : threads) {
            thread->start();
        }
        for (auto& thread : threads) {
            QVERIFY(thread->wait(120000));
        }

        const QStringList lines = fileLines(m_logPath);
        QCOMPARE(lines.size(), threadCount * linesPerThread);
        const QRegularExpression messagePattern(QStringLiteral(R"(^thread (\d) line (\d+) ([A-H])+$)"));
        QSet<QString> seen;
        for (const QString& line : lines) {
            const QRegularExpressionMatch match = linePattern.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            const QString message = match.captured(4);
            const QRegularExpressionMatch messageMatch = messagePattern.match(message);
            QVERIFY2(messageMatch.hasMatch(), qPrintable(message));
            const int thread = messageMatch.captured(1).toInt();
            QCOMPARE(message.count(QLatin1Char('A' + thread)), 300);
            seen.insert(messageMatch.captured(1) + u'/' + messageMatch.captured(2));
        }
        QCOMPARE(seen.size(), threadCount * linesPerThread);
    }

    void fatalMessageAbortsWithoutLogLine() {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(childModeVariable), u"fatal"_qs);
        environment.insert(QLatin1String(childLogVariable), m_logPath);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));

        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QStringList lines = fileLines(m_logPath);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(u"Info: before the fatal message"_qs), qPrintable(lines.first()));
    }

    void unopenableFileLosesMessagesQuietly() {
        const QString path = m_directory->filePath(u"missing-folder/launcher.log"_qs);
        setupLogging(path);
        qInfo("goes nowhere");
        qWarning("goes nowhere either");

        QVERIFY(!QFileInfo::exists(path));
    }

private:
    std::unique_ptr<QTemporaryDir> m_directory;
    QString m_logPath;
};

std::optional<int> fatalChild(int, char**) {
    if (qEnvironmentVariable(childModeVariable) != u"fatal"_qs)
        return std::nullopt;
    return runFatalChild();
}
LAUNCHER_TEST_CHILD_MODE(fatalChild)
LAUNCHER_TEST(TestLogging)

#include "tst_logging.moc"
