#include "shared/singleinstance/firstinstancetester.h"
#include "support/testregistry.h"

#include <QUuid>
#include <QtTest>

#include <memory>

using shared::FirstInstanceTester;

// The guard is a named object of its own; its life across crashes and started programs is tested
// with that object.
class TestFirstInstanceTester : public QObject {
    Q_OBJECT

private slots:
    void onlyTheFirstHolderOfAKeyIsFirst() {
        const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
        auto first = std::make_unique<FirstInstanceTester>(key);
        QVERIFY(first->isFirstInstance());
        {
            const FirstInstanceTester second(key);
            QVERIFY(!second.isFirstInstance());
            QVERIFY(FirstInstanceTester(key + u'x').isFirstInstance());
        }
        // A second instance that ended does not release the first one's guard.
        QVERIFY(!FirstInstanceTester(key).isFirstInstance());
        first.reset();
        QVERIFY(FirstInstanceTester(key).isFirstInstance());
    }
};

LAUNCHER_TEST(TestFirstInstanceTester)
#include "tst_firstinstancetester.moc"
