#include "shared/translation/translationmanager.h"
#include "support/testpaths.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using mirrel::shared::TTranslationManager;

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
        QCOMPARE(aboutTitle(), QStringLiteral("launcher.about.title"));
        auto manager = std::make_unique<TTranslationManager>();
        QVERIFY(manager->loadTranslation(QStringLiteral("launcher.en"), testsupport::launcherBinDir()));
        QVERIFY(manager->hasTranslation());
        QCOMPARE(aboutTitle(), QStringLiteral("About Vantor Online Launcher"));

        // Loading again replaces the translator instead of stacking a second one.
        QVERIFY(manager->loadTranslation(QStringLiteral("launcher.en"), testsupport::launcherBinDir()));
        QCOMPARE(aboutTitle(), QStringLiteral("About Vantor Online Launcher"));

        manager.reset();
        QCOMPARE(aboutTitle(), QStringLiteral("launcher.about.title"));
    }

    void failedLoadLeavesNoTranslation() {
        const QTemporaryDir emptyDirectory;
        TTranslationManager manager;
        QVERIFY(manager.loadTranslation(QStringLiteral("launcher.en"), testsupport::launcherBinDir()));

        // The earlier translator goes even when the new one cannot be loaded.
        QVERIFY(!manager.loadTranslation(QStringLiteral("launcher.en"), emptyDirectory.path()));
        QVERIFY(!manager.hasTranslation());
        QCOMPARE(aboutTitle(), QStringLiteral("launcher.about.title"));
    }
};

QTEST_GUILESS_MAIN(TestTranslationManager)
#include "tst_translationmanager.moc"
