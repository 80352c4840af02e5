#include "shared/translation/translationmanager.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using mirrel::shared::TTranslationManager;
using testsupport::operator""_qs;

class TestTranslationManager : public QObject {
    Q_OBJECT

private slots:
    void installsReplacesAndRemovesTheTranslation() {
        const QString id = u"launcher.about.title"_qs;
        QCOMPARE(qtTrId("launcher.about.title"), id);
        auto manager = std::make_unique<TTranslationManager>();
        QVERIFY(manager->loadTranslation(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QVERIFY(manager->hasTranslation());
        QCOMPARE(qtTrId("launcher.about.title"), u"About Vantor Online Launcher"_qs);
        manager.reset();
        QCOMPARE(qtTrId("launcher.about.title"), id);

        // The earlier translator goes even when the new one cannot be loaded.
        const QTemporaryDir emptyDirectory;
        TTranslationManager failing;
        QVERIFY(failing.loadTranslation(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QVERIFY(!failing.loadTranslation(u"launcher.en"_qs, emptyDirectory.path()));
        QVERIFY(!failing.hasTranslation());
        QCOMPARE(qtTrId("launcher.about.title"), id);
    }
};

LAUNCHER_TEST(TestTranslationManager)
#include "tst_translationmanager.moc"
