#include "launcher/ui/clientpackagelayoutitem.h"

#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::makeWindowPackage;
using testsupport::packageDocument;
using testsupport::operator""_qs;

namespace {

// A row shown in a widget of its own, as the main window's grid would hold it.
struct TShownRow {
    QWidget m_Host;
    TClientPackageLayoutItem* m_pRow;

    explicit TShownRow(std::shared_ptr<TPackage> pPackage, bool ShowPackageNames = false)
        : m_pRow(new TClientPackageLayoutItem(std::move(pPackage), ShowPackageNames)) {
        m_Host.setLayout(m_pRow);
        m_Host.show();
    }
    TClientPackageLayoutItem* operator->() const { return m_pRow; }
};

void setStatus(TPackage& Package, int Status) {
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

QStringList menuTexts(const TClientPackageLayoutItem& Row) {
    QStringList texts;
    for (const QAction* pAction : Row.button()->contextMenu()->actions()) {
        texts << pAction->text();
    }
    return texts;
}

QString logoSheet(const QString& Logo) {
    return u"QLabel { image: url(:/images/launcher/VantorLogo_%1.png); }"_qs.arg(Logo);
}

} // namespace

class TestClientPackageLayoutItem : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<std::shared_ptr<TPackage>>("std::shared_ptr<TPackage>"); }

    void statusDecidesLook_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<bool>("upToDate"); // bright logo and a "Verify" menu
        QTest::addColumn<bool>("checkBox");
        QTest::newRow("not determined") << 0 << "Red" << QString() << false << false;
        QTest::newRow("not installed") << 1 << "Blue"
                                       << "Download" << false << false;
        QTest::newRow("partial") << 2 << "Orange"
                                 << "Update" << false << false;
        QTest::newRow("update") << 3 << "Orange"
                                << "Update" << false << false;
        QTest::newRow("up to date") << 4 << "Green"
                                    << "Play" << true << true;
        QTest::newRow("beyond") << 5 << "Green"
                                << "Play" << true << false;
    }

    void statusDecidesLook() {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QString, icon);
        QFETCH(bool, upToDate);
        QFETCH(bool, checkBox);
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"7"_qs));
        TShownRow row(pPackage);
        // Walk through another status first, so that the refresh is what is tested.
        setStatus(*pPackage, status == 4 ? 1 : 4);
        setStatus(*pPackage, status);

        const QString style = row->button()->styleSheet();
        for (const QString& state : {u"idle"_qs, u"hover"_qs, u"pressed"_qs}) {
            QVERIFY2(style.contains(u"Button_%1_%2.png"_qs.arg(colour, state)), qPrintable(style));
        }
        QCOMPARE(style.contains(u"image: url(:/images/launcher/Icon_%1.png)"_qs.arg(icon)), !icon.isEmpty());
        QCOMPARE(row->button()->toolTip(), icon);
        QCOMPARE(menuTexts(*row.m_pRow), upToDate ? QStringList{u"Verify"_qs} : QStringList());
        QCOMPARE(row->logoLabel()->styleSheet().contains(u"_disabled.png"_qs), !upToDate);
        QCOMPARE(row->defaultClientCheckBox()->isVisible(), checkBox);
        QVERIFY(row->button()->isVisible() && !row->progressBar()->isVisible());
        QCOMPARE(row->progressBar()->size(), row->button()->size());
        QCOMPARE(row->logoLabel()->size(), QPixmap(u":/images/launcher/LauncherLogo_QT.png"_qs).size());
    }

    void logoFollowsGenerationAndVariant_data() {
        QTest::addColumn<QString>("generation");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("logo");
        QTest::newRow("first generation wins") << "first"
                                               << "preview"
                                               << "Classic";
        QTest::newRow("preview") << "second"
                                 << "preview"
                                 << "Preview";
        QTest::newRow("beta") << "second"
                              << "beta"
                              << "Beta";
        QTest::newRow("test") << "second"
                              << "test"
                              << "Test";
        QTest::newRow("unknown word") << "second"
                                      << "Beta"
                                      << "QT";
    }

    void logoFollowsGenerationAndVariant() {
        QFETCH(QString, generation);
        QFETCH(QString, variant);
        QFETCH(QString, logo);
        const auto pPackage =
            makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"1"_qs, generation, variant));
        TShownRow row(pPackage);
        QCOMPARE(row->logoLabel()->styleSheet(), logoSheet(logo + u"_disabled"_qs));
        setStatus(*pPackage, 4);
        QCOMPARE(row->logoLabel()->styleSheet(), logoSheet(logo));
    }

    void logoWithLinkIsEscapedAndOpens() {
        const auto pPackage = makeWindowPackage(1, u"Linked"_qs, packageDocument(u"1"_qs),
                                                u"https://www.quorvane.com/vantor?a=1&b=2"_qs);
        TShownRow row(pPackage);
        QLabel* pLogo = row->logoLabel();
        QCOMPARE(pLogo->text(), u"<a href=\"https://www.quorvane.com/vantor?a=1&amp;b=2\">"
                                "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"_qs);
        QVERIFY(pLogo->openExternalLinks());
        QCOMPARE(pLogo->toolTip(), u"Linked"_qs);
        setStatus(*pPackage, 4);
        QVERIFY(pLogo->text().contains(u"VantorLogo_QT.png"_qs));
    }

    void versionAndName() {
        TShownRow named(makeWindowPackage(0, u"Vantor Online"_qs, packageDocument(u"1.4.2"_qs)), true);
        QCOMPARE(named->nameLabel()->text(), u"Vantor Online"_qs);
        QCOMPARE(named->versionLabel()->text(), u"1.4.2"_qs);
        TShownRow unversioned(makeWindowPackage(1, u"Preview"_qs, packageDocument(QString())));
        QVERIFY(unversioned->nameLabel() == nullptr);
        QCOMPARE(unversioned->versionLabel()->text(), u"?"_qs);
        TShownRow bare(makeWindowPackage(2, u"Bare"_qs, QByteArray()), true);
        QCOMPARE(bare->versionLabel()->text(), QString());
        QCOMPARE(bare->logoLabel()->styleSheet(), logoSheet(u"QT_disabled"_qs));
    }

    void clicksBecomeSignals() {
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"1"_qs));
        TShownRow row(pPackage);
        QSignalSpy clicked(row.m_pRow, &TClientPackageLayoutItem::buttonClicked);
        QSignalSpy verify(row.m_pRow, &TClientPackageLayoutItem::verifyButtonClicked);
        QTest::mouseClick(row->button(), Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).value<std::shared_ptr<TPackage>>(), pPackage);

        setStatus(*pPackage, 4);
        // Refreshing the same status again leaves one action, not two.
        setStatus(*pPackage, 4);
        QCOMPARE(row->button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        row->button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(verify.count(), 1);
        QCOMPARE(verify.at(0).at(0).value<std::shared_ptr<TPackage>>(), pPackage);
        QCOMPARE(clicked.count(), 1);
    }

    void checkBoxReportsDefault() {
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"1"_qs));
        setStatus(*pPackage, 4);
        TShownRow row(pPackage);
        QCheckBox* pBox = row->defaultClientCheckBox();
        QSignalSpy changed(row.m_pRow, &TClientPackageLayoutItem::defaultChanged);
        pBox->click();
        pBox->setCheckState(Qt::PartiallyChecked);
        pBox->setChecked(false);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(0).at(1).toBool(), true);
        QCOMPARE(changed.at(1).at(1).toBool(), false);

        // A hidden box keeps its room, so rows of different states line up.
        const int height = row.m_Host.sizeHint().height();
        setStatus(*pPackage, 3);
        QVERIFY(!pBox->isVisible());
        QCOMPARE(row.m_Host.sizeHint().height(), height);
    }

    void progressOfARun() {
        QTemporaryDir launcherDirectory;
        auto pFileSystem = std::make_shared<TLauncherFilesystemHelper>(launcherDirectory.path());
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"2.0"_qs));
        setStatus(*pPackage, 3);
        TShownRow row(pPackage);
        QProgressBar* pBar = row->progressBar();
        QLabel* pText = row->versionLabel();
        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, pFileSystem);
        row->onInstallationOrUpdateStarted(*pInstallation);
        QVERIFY(!row->button()->isVisible() && pBar->isVisible());
        QCOMPARE(pBar->maximum(), 10000);
        QCOMPARE(pBar->value(), 0);

        // Phase progress comes from worker threads and reaches the row queued.
        emit pInstallation->scanProgress(1234567, 9876543);
        QCOMPARE(pBar->format(), QString());
        QTRY_COMPARE(pBar->format(), u"Scanning..."_qs);
        QCOMPARE(pBar->value(), 1250);
        QCOMPARE(pText->text(), u"1.2/9.9 MB"_qs);
        emit pInstallation->verificationProgress(1500000, 3000000);
        QTRY_COMPARE(pBar->format(), u"Verifying..."_qs);
        QCOMPARE(pBar->value(), 5000);
        emit pInstallation->writeProgress(0, 0);
        QTRY_COMPARE(pBar->format(), u"Writing..."_qs);
        QCOMPARE(pText->text(), u"0.0/0.0 MB"_qs);

        // While downloading, the bar shows the rate (none measured yet); once
        // everything has arrived, the writing that is left.
        TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
        emit pDownloader->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(pBar->format(), u"0 B/s"_qs);
        QCOMPARE(pBar->value(), 2500);
        QCOMPARE(pText->text(), u"0.3/1.0 MB"_qs);
        emit pDownloader->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(pBar->format(), u"Writing..."_qs);
        QCOMPARE(pText->text(), u"1.0/4.0 MB"_qs);

        setStatus(*pPackage, 4);
        QVERIFY(!row->button()->isVisible());
        row->onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(row->button()->isVisible() && !pBar->isVisible());
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(pText->text(), u"2.0"_qs);
        QVERIFY(row->button()->styleSheet().contains(u"Button_Green_idle.png"_qs));
        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(pText->text(), u"2.0"_qs);
    }
};

LAUNCHER_TEST(TestClientPackageLayoutItem)
#include "tst_clientpackagelayoutitem.moc"
