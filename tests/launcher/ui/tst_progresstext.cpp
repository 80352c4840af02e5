#include "launcher/ui/progresstext.h"
#include "support/testregistry.h"

#include <QTest>

using namespace mirrel::launcher;

class TestProgressText : public QObject {
    Q_OBJECT

private slots:
    // A unit is taken once the rate exceeds its binary threshold, but the amount is divided by the
    // decimal unit.
    void speedUnits_data() {
        QTest::addColumn<quint64>("rate");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "0 B/s";
        QTest::newRow("1024 is still bytes") << quint64(1024) << "1024 B/s";
        QTest::newRow("1025") << quint64(1025) << "1.0 KB/s";
        QTest::newRow("2^20 is still kilobytes") << quint64(1048576) << "1048.6 KB/s";
        QTest::newRow("2^20+1") << quint64(1048577) << "1.0 MB/s";
        QTest::newRow("2^30 is still megabytes") << quint64(1073741824) << "1073.7 MB/s";
        QTest::newRow("2^30+1") << quint64(1073741825) << "1.1 GB/s";
    }

    void speedUnits() {
        QFETCH(quint64, rate);
        QFETCH(QString, text);
        QCOMPARE(speedText(rate), text);
    }

    void megabytesAndBar_data() {
        QTest::addColumn<quint64>("done");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("bar");
        QTest::newRow("example") << quint64(1234567) << quint64(9876543) << "1.2/9.9 MB" << 1250;
        QTest::newRow("beyond 32 bits")
            << quint64(20000000000) << quint64(20000000000) << "20000.0/20000.0 MB" << 10000;
        QTest::newRow("half rounds away") << quint64(1) << quint64(20000) << "0.0/0.0 MB" << 1;
        QTest::newRow("empty phase with bytes") << quint64(700000) << quint64(0) << "0.0/0.0 MB" << 0;
        QTest::newRow("overshoot") << quint64(3000000) << quint64(2000000) << "3.0/2.0 MB" << 10000;
    }

    void megabytesAndBar() {
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
