#include "launcher/logging/logging.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

using mirrel::launcher::setupLogging;
using testsupport::operator""_qs;

namespace {

// "yyyy-MM-dd hh:mm:ss (file:line) Kind: message", nothing before or after; the stamp is captured.
const QRegularExpression LinePattern(u"^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) \\(([^()]*)\\) (.*)$"_qs);

// Whole lines of the file, or a marker when the last one is not ended.
QStringList fileLines(const QString& Path) {
    const QString text = QString::fromUtf8(testsupport::readBytes(Path));
    return text.endsWith(u'\n') ? text.split(u'\n', Qt::SkipEmptyParts) : QStringList{u"<unended>"_qs};
}

// A copy of this program logs one line, then a fatal message.
std::optional<int> fatalChild(int, char**) {
    if (!qEnvironmentVariableIsSet("LOGGING_TEST_LOG")) {
        return std::nullopt;
    }
    setupLogging(qEnvironmentVariable("LOGGING_TEST_LOG"));
    qInfo("before the fatal message");
    qFatal("the fatal message");
    return 0;
}

} // namespace

class TestLogging : public QObject {
    Q_OBJECT

private slots:
    void init() { m_Log = m_Directory.filePath(QString::fromLatin1(QTest::currentTestFunction())); }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void eachLineHasExactlyTheForm() {
        setupLogging(m_Directory.filePath(u"missing-folder/launcher.log"_qs));
        qWarning("an unopenable file loses its messages quietly");
        QVERIFY(!QFileInfo::exists(m_Directory.filePath(u"missing-folder"_qs)));
        setupLogging(m_Log);
        const int line = __LINE__ + 1;
        qDebug("debug text");
        qInfo("info text");
        qWarning("warning text");
        qCritical("critical text with %%1 and %s", "an argument");
        // The source file by its name only: the build machine's folders are nobody's business.
        const QString file = QFileInfo(QStringLiteral(__FILE__)).fileName();
        QStringList expected;
        for (const QString& kind :
             {u"Debug: debug text"_qs, u"Info: info text"_qs, u"Warning: warning text"_qs,
              u"Critical: critical text with %1 and an argument"_qs}) {
            expected << u"%1:%2 %3"_qs.arg(file).arg(line + expected.size()).arg(kind);
        }
        QCOMPARE(fileLines(m_Log).replaceInStrings(LinePattern, u"\\2 \\3"_qs), expected);
    }

    // The child runs at UTC+14 and stamps local time; a fatal message ends it without a line of its own.
    void fatalMessageAbortsAfterLinesInLocalTime() {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"LOGGING_TEST_LOG"_qs, m_Log);
        environment.insert(u"TZ"_qs, u"UTC-14"_qs);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        const QStringList lines = fileLines(m_Log);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().endsWith(u"Info: before the fatal message"_qs), qPrintable(lines.first()));
        QDateTime stamp =
            QDateTime::fromString(LinePattern.match(lines.first()).captured(1), u"yyyy-MM-dd hh:mm:ss"_qs);
        stamp.setTimeSpec(Qt::UTC);
        QVERIFY2(qAbs(stamp.secsTo(QDateTime::currentDateTimeUtc().addSecs(14 * 3600))) < 3600,
                 qPrintable(lines.first()));
    }

private:
    QTemporaryDir m_Directory;
    QString m_Log;
};

LAUNCHER_TEST_CHILD_MODE(fatalChild)
LAUNCHER_TEST(TestLogging)
#include "tst_logging.moc"
