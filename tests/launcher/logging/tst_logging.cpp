#include "launcher/logging/logging.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

using mirrel::launcher::setupLogging;
using testsupport::operator""_qs;

namespace {

// "yyyy-MM-dd hh:mm:ss (file:line) Kind: message", nothing before or after.
const QRegularExpression LinePattern(
    u"^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) \\(([^()]*):(\\d+)\\) (Debug|Info|Warning|Critical): (.*)$"_qs);
const char ChildLogVariable[] = "LOGGING_TEST_LOG";

QStringList fileLines(const QString& Path) {
    const QString text = QString::fromUtf8(testsupport::readBytes(Path));
    if (!text.isEmpty() && !text.endsWith(u'\n')) {
        return {u"<last line not ended>"_qs};
    }
    return text.split(u'\n', Qt::SkipEmptyParts);
}

// A copy of this program logs one line, then a fatal message.
std::optional<int> fatalChild(int, char**) {
    if (!qEnvironmentVariableIsSet(ChildLogVariable)) {
        return std::nullopt;
    }
    setupLogging(qEnvironmentVariable(ChildLogVariable));
    qInfo("before the fatal message");
    qFatal("the fatal message");
    return 0;
}

} // namespace

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_LogPath = m_Directory.filePath(QString::fromLatin1(QTest::currentTestFunction()) + u".log"_qs);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void eachLineHasExactlyTheForm() {
        setupLogging(m_LogPath);
        const int firstLine = __LINE__ + 1;
        qDebug("debug text");
        qInfo("info text");
        qWarning("warning text");
        qCritical("critical text with %%1 and %s", "an argument");

        const QStringList lines = fileLines(m_LogPath);
        const QStringList kinds{"Debug", "Info", "Warning", "Critical"};
        const QStringList texts{"debug text", "info text", "warning text",
                                "critical text with %1 and an argument"};
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < lines.size(); ++i) {
            const QRegularExpressionMatch match = LinePattern.match(lines[i]);
            QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
            // The source file by its name only: the build machine's folders are nobody's business.
            QCOMPARE(match.captured(2), QFileInfo(QStringLiteral(__FILE__)).fileName());
            QCOMPARE(match.captured(3).toInt(), firstLine + i);
            QCOMPARE(match.captured(4), kinds[i]);
            QCOMPARE(match.captured(5), texts[i]);
        }
    }

    void concurrentThreadsWriteWholeLines() {
        setupLogging(m_LogPath);
        const int threadCount = 8;
        const int linesPerThread = 400;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            // Long messages make torn writes likely if the lock did not hold.
            threads.emplace_back(QThread::create([thread] {
                for (int line = 0; line < linesPerThread; ++line) {
                    qInfo().noquote() << u"%1/%2 %3"_qs.arg(thread).arg(line).arg(QString(300, u'x'));
                }
            }));
            threads.back()->start();
        }
        for (const auto& thread : threads) {
            QVERIFY(thread->wait(120000));
        }
        QSet<QString> seen;
        for (const QString& line : fileLines(m_LogPath)) {
            const QRegularExpressionMatch match = LinePattern.match(line);
            QVERIFY2(match.hasMatch() && match.captured(5).endsWith(QString(300, u'x')), qPrintable(line));
            seen.insert(match.captured(5).section(u' ', 0, 0));
        }
        QCOMPARE(seen.size(), threadCount * linesPerThread);
    }

    // The child runs 14 hours ahead of UTC: the stamp must be that local time, and the fatal message
    // ends the program without a line of its own.
    void fatalMessageAbortsAfterLinesInLocalTime() {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(ChildLogVariable), m_LogPath);
        environment.insert(u"TZ"_qs, u"UTC-14"_qs);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QStringList lines = fileLines(m_LogPath);
        QCOMPARE(lines.size(), 1);
        const QRegularExpressionMatch match = LinePattern.match(lines.first());
        QVERIFY2(match.hasMatch() && match.captured(5) == u"before the fatal message"_qs,
                 qPrintable(lines.first()));
        QDateTime stamp = QDateTime::fromString(match.captured(1), u"yyyy-MM-dd hh:mm:ss"_qs);
        stamp.setTimeSpec(Qt::UTC);
        QVERIFY2(qAbs(stamp.secsTo(QDateTime::currentDateTimeUtc().addSecs(14 * 3600))) < 3600,
                 qPrintable(lines.first()));
    }

    void unopenableFileLosesMessagesQuietly() {
        const QString path = m_Directory.filePath(u"missing-folder/launcher.log"_qs);
        setupLogging(path);
        qWarning("goes nowhere");
        QVERIFY(!QFileInfo::exists(path));
    }

private:
    QTemporaryDir m_Directory;
    QString m_LogPath;
};

LAUNCHER_TEST_CHILD_MODE(fatalChild)
LAUNCHER_TEST(TestLogging)
#include "tst_logging.moc"
