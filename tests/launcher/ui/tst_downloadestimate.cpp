#include "launcher/ui/downloadestimate.h"
#include "launcher/ui/progresstext.h"
#include "support/testregistry.h"

#include <QTest>

using namespace mirrel::launcher;

namespace {

// Reports of a download: Count more reports, each Step bytes past the one before.
QList<quint64> continued(QList<quint64> Reports, int Count, qint64 Step) {
    for (int report = 0; report < Count; ++report) {
        const quint64 last = Reports.isEmpty() ? 0 : Reports.last();
        Reports.append(static_cast<quint64>(static_cast<qint64>(last) + Step));
    }
    return Reports;
}

} // namespace

class TestDownloadEstimate : public QObject {
    Q_OBJECT

private slots:
    void rateSettlesBeforeTheTimeLeft_data() {
        QTest::addColumn<QList<quint64>>("reports");
        QTest::addColumn<quint64>("rate");
        QTest::addColumn<bool>("steady");
        QTest::addColumn<quint64>("secondsLeft");
        const QList<quint64> twoSeconds = continued({0}, 20, 1240000);
        QTest::newRow("the first report is the start")
            << QList<quint64>{5000000} << quint64(0) << false << quint64(0);
        QTest::newRow("one tick") << QList<quint64>{0, 1240000} << quint64(12400000) << false << quint64(0);
        QTest::newRow("a tick short of two seconds")
            << continued({0}, 19, 1240000) << quint64(12400000) << false << quint64(0);
        // (1000000000 - 24800000) / 12400000 = 78.6
        QTest::newRow("two seconds") << twoSeconds << quint64(12400000) << true << quint64(79);
        // The last three seconds count: 20 ticks of 1 MB and 10 of 3 MB.
        QTest::newRow("three seconds remembered") << continued(continued({0}, 40, 1000000), 10, 3000000)
                                                  << quint64(16666666) << true << quint64(56);
        // A piece that starts again lowers the total: that tick brought nothing.
        QTest::newRow("piece started again")
            << continued(twoSeconds, 1, -20000000) << quint64(11809523) << true << quint64(85);
        QTest::newRow("stalled for three seconds")
            << continued(twoSeconds, 30, 0) << quint64(0) << false << quint64(0);
    }

    void rateSettlesBeforeTheTimeLeft() {
        QFETCH(QList<quint64>, reports);
        QFETCH(quint64, rate);
        QFETCH(bool, steady);
        QFETCH(quint64, secondsLeft);
        TDownloadEstimate estimate;
        // A restart forgets an earlier run completely.
        estimate.addReport(900000000, 1000000000);
        estimate.addReport(990000000, 1000000000);
        estimate.restart();
        for (quint64 report : reports) {
            estimate.addReport(report, 1000000000);
        }
        QCOMPARE(estimate.bytesPerSecond(), rate);
        QCOMPARE(estimate.isSteady(), steady);
        QCOMPARE(estimate.secondsLeft(), secondsLeft);
    }

    void timeLeftInWords_data() {
        QTest::addColumn<quint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("59 s") << quint64(59) << "under 1 min left";
        QTest::newRow("a minute") << quint64(60) << "about 1 min left";
        QTest::newRow("89 s") << quint64(89) << "about 1 min left";
        QTest::newRow("90 s rounds up") << quint64(90) << "about 2 min left";
        QTest::newRow("59 min 29 s") << quint64(3569) << "about 59 min left";
        QTest::newRow("59 min 30 s is an hour") << quint64(3570) << "about 1 h left";
        QTest::newRow("an hour and a half") << quint64(5400) << "about 2 h left";
        QTest::newRow("two days") << quint64(172800) << "about 48 h left";
    }

    void timeLeftInWords() {
        QFETCH(quint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(timeLeftText(seconds), text);
    }
};

LAUNCHER_TEST(TestDownloadEstimate)
#include "tst_downloadestimate.moc"
