#include "launcher/ui/progresstext.h"
#include "support/testregistry.h"

#include <QTest>

using namespace mirrel::launcher;

class TestProgressText : public QObject {
    Q_OBJECT

private slots:
    void speedUnitsSwitchAboveBinaryThresholds_data() {
        QTest::addColumn<quint64>("rate");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "0 B/s";
        QTest::newRow("1023") << quint64(1023) << "1023 B/s";
        QTest::newRow("1024 is still bytes") << quint64(1024) << "1024 B/s";
        QTest::newRow("1025") << quint64(1025) << "1.0 KB/s";
        QTest::newRow("2^20 is still kilobytes") << quint64(1048576) << "1048.6 KB/s";
        QTest::newRow("2^20+1") << quint64(1048577) << "1.0 MB/s";
        QTest::newRow("1.5 MB/s") << quint64(1536000) << "1.5 MB/s";
        QTest::newRow("2^30 is still megabytes") << quint64(1073741824) << "1073.7 MB/s";
        QTest::newRow("2^30+1") << quint64(1073741825) << "1.1 GB/s";
        QTest::newRow("2^31") << quint64(2147483648) << "2.1 GB/s";
    }

    void speedUnitsSwitchAboveBinaryThresholds() {
        QFETCH(quint64, rate);
        QFETCH(QString, text);
        QCOMPARE(speedText(rate), text);
    }

    void megabytesAndBarValues_data() {
        QTest::addColumn<quint64>("done");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bar");
        QTest::newRow("example") << quint64(1234567) << quint64(9876543) << "1.2/9.9 MB" << 1250;
        QTest::newRow("decimal megabytes") << quint64(1500000) << quint64(3000000) << "1.5/3.0 MB" << 5000;
        QTest::newRow("start") << quint64(0) << quint64(20000000000) << "0.0/20000.0 MB" << 0;
        QTest::newRow("complete") << quint64(20000000000) << quint64(20000000000) << "20000.0/20000.0 MB"
                                  << 10000;
        QTest::newRow("half rounds away") << quint64(1) << quint64(20000) << "0.0/0.0 MB" << 1;
        QTest::newRow("empty phase") << quint64(0) << quint64(0) << "0.0/0.0 MB" << 0;
        QTest::newRow("empty phase with bytes") << quint64(700) << quint64(0) << "0.0/0.0 MB" << 0;
        QTest::newRow("overshoot") << quint64(3000000) << quint64(2000000) << "3.0/2.0 MB" << 10000;
    }

    void megabytesAndBarValues() {
        QFETCH(quint64, done);
        QFETCH(quint64, total);
        QFETCH(QString, text);
        QFETCH(int, bar);
        QCOMPARE(megabytesText(done, total), text);
        QCOMPARE(progressBarValue(done, total), bar);
    }
};

LAUNCHER_TEST(TestProgressText)
#include "tst_progresstext.moc"
