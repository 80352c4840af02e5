#include "shared/translation/translationmanager.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using mirrel::shared::TTranslationManager;
using testsupport::operator""_qs;

namespace {

// A text of the launcher's translation, looked up by its id.
QString aboutTitle() {
    return qtTrId("launcher.about.title");
}

} // namespace

class TestTranslationManager : public QObject {
    Q_OBJECT

private slots:
    void installsAndRemovesTheLauncherTranslation() {
        QCOMPARE(aboutTitle(), u"launcher.about.title"_qs);
        auto manager = std::make_unique<TTranslationManager>();
        QVERIFY(manager->loadTranslation(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QVERIFY(manager->hasTranslation());
        QCOMPARE(aboutTitle(), u"About Vantor Online Launcher"_qs);

        // Loading again replaces the translator instead of stacking a second one.
        QVERIFY(manager->loadTranslation(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QCOMPARE(aboutTitle(), u"About Vantor Online Launcher"_qs);

        manager.reset();
        QCOMPARE(aboutTitle(), u"launcher.about.title"_qs);
    }

    void failedLoadLeavesNoTranslation() {
        const QTemporaryDir emptyDirectory;
        TTranslationManager manager;
        QVERIFY(manager.loadTranslation(u"launcher.en"_qs, testsupport::launcherBinDir()));

        // The earlier translator goes even when the new one cannot be loaded.
        QVERIFY(!manager.loadTranslation(u"launcher.en"_qs, emptyDirectory.path()));
        QVERIFY(!manager.hasTranslation());
        QCOMPARE(aboutTitle(), u"launcher.about.title"_qs);
    }
};

LAUNCHER_TEST(TestTranslationManager)
#include "tst_translationmanager.moc"
