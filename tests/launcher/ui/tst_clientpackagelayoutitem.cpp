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
#include <QTemporaryDir>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

// A row shown in a widget of its own, as the main window's grid would hold it.
struct TShownRow {
    QWidget m_Host;
    TClientPackageLayoutItem* m_pRow;

    TShownRow(std::shared_ptr<TPackage> pPackage, bool ShowPackageNames) {
        m_pRow = new TClientPackageLayoutItem(std::move(pPackage), ShowPackageNames);
        m_Host.setLayout(m_pRow);
        m_Host.show();
    }
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

// Records the package (and flag) of each emission of a row signal.
struct TPackageSignals {
    std::vector<std::shared_ptr<TPackage>> m_Packages;
    std::vector<bool> m_Flags;

    void add(std::shared_ptr<TPackage> pPackage, bool Flag = false) {
        m_Packages.push_back(std::move(pPackage));
        m_Flags.push_back(Flag);
    }
    size_t count() const { return m_Packages.size(); }
};

bool opensMenuOnRightClick(TClientPackageLayoutItem& Row) {
    QContextPushButton* pButton = Row.button();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(3, 3), pButton->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(pButton, &event);
    const bool opened = pButton->contextMenu()->isVisible();
    pButton->contextMenu()->hide();
    return opened;
}

} // namespace

class TestClientPackageLayoutItem : public QObject {
    Q_OBJECT

private slots:
    void statusDecidesLook_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("colour");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QStringList>("menu");
        QTest::addColumn<bool>("disabledLogo");
        QTest::addColumn<bool>("checkBox");
        const QStringList verify{u"Verify"_qs};
        // clang-format off
        QTest::newRow("not determined") << 0 << "Red" << QString() << QStringList() << true << false;
        QTest::newRow("not installed") << 1 << "Blue" << "Download" << QStringList() << true << false;
        QTest::newRow("partial") << 2 << "Orange" << "Update" << QStringList() << true << false;
        QTest::newRow("update") << 3 << "Orange" << "Update" << QStringList() << true << false;
        QTest::newRow("up to date") << 4 << "Green" << "Play" << verify << false << true;
        QTest::newRow("beyond") << 5 << "Green" << "Play" << verify << false << false;
        // clang-format on
    }

    void statusDecidesLook() {
        QFETCH(int, status);
        QFETCH(QString, colour);
        QFETCH(QString, icon);
        QFETCH(QStringList, menu);
        QFETCH(bool, disabledLogo);
        QFETCH(bool, checkBox);

        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor"_qs, testsupport::packageDocument(u"7"_qs));
        TShownRow shown(pPackage, false);
        TClientPackageLayoutItem& row = *shown.m_pRow;
        // Walk through another status first, so that the refresh is what is tested.
        setStatus(*pPackage, status == 4 ? 1 : 4);
        setStatus(*pPackage, status);

        const QString style = row.button()->styleSheet();
        for (const QString& state : {u"idle"_qs, u"hover"_qs, u"pressed"_qs}) {
            QVERIFY2(style.contains(u":/images/launcher/Button_%1_%2.png"_qs.arg(colour, state)),
                     qPrintable(style));
        }
        if (icon.isEmpty()) {
            QVERIFY(!style.contains(u"Icon_"_qs));
        } else {
            QVERIFY(style.contains(u"image: url(:/images/launcher/Icon_%1.png)"_qs.arg(icon)));
        }
        QCOMPARE(row.button()->toolTip(), icon);
        QCOMPARE(row.button()->size(), QSize(98, 40));
        QCOMPARE(menuTexts(row), menu);
        QCOMPARE(opensMenuOnRightClick(row), !menu.isEmpty());
        QCOMPARE(row.logoLabel()->styleSheet().contains(u"_disabled.png"_qs), disabledLogo);
        QCOMPARE(row.defaultClientCheckBox()->isVisible(), checkBox);
        QVERIFY(row.button()->isVisible());
        QVERIFY(!row.progressBar()->isVisible());
    }

    void logoFollowsGenerationAndVariant_data() {
        QTest::addColumn<QString>("generation");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("logo");
        const char* const rows[][4] = {{"first generation wins", "first", "preview", "Classic"},
                                       {"preview", "second", "preview", "Preview"},
                                       {"beta", "second", "beta", "Beta"},
                                       {"test", "second", "test", "Test"},
                                       {"regular", "second", "regular", "QT"},
                                       {"unknown word", "second", "Beta", "QT"},
                                       {"unknown generation", "", "test", "Test"}};
        for (const auto& row : rows) {
            QTest::newRow(row[0]) << QString::fromLatin1(row[1]) << QString::fromLatin1(row[2])
                                  << QString::fromLatin1(row[3]);
        }
    }

    void logoFollowsGenerationAndVariant() {
        QFETCH(QString, generation);
        QFETCH(QString, variant);
        QFETCH(QString, logo);
        const auto pPackage = testsupport::makeWindowPackage(
            0, u"Vantor"_qs, testsupport::packageDocument(u"1"_qs, generation, variant));
        TShownRow shown(pPackage, false);
        QCOMPARE(shown.m_pRow->logoLabel()->styleSheet(),
                 u"QLabel { image: url(:/images/launcher/VantorLogo_%1_disabled.png); }"_qs.arg(logo));
        setStatus(*pPackage, 4);
        QCOMPARE(shown.m_pRow->logoLabel()->styleSheet(),
                 u"QLabel { image: url(:/images/launcher/VantorLogo_%1.png); }"_qs.arg(logo));
    }

    void logoWithLinkIsClickable() {
        const auto plain =
            testsupport::makeWindowPackage(0, u"Plain"_qs, testsupport::packageDocument(u"1"_qs));
        TShownRow plainRow(plain, false);
        QVERIFY(plainRow.m_pRow->logoLabel()->text().isEmpty());
        QVERIFY(!plainRow.m_pRow->logoLabel()->openExternalLinks());
        QCOMPARE(plainRow.m_pRow->logoLabel()->toolTip(), u"Plain"_qs);

        const auto linked =
            testsupport::makeWindowPackage(1, u"Linked"_qs, testsupport::packageDocument(u"1"_qs),
                                           u"https://www.quorvane.com/vantor?a=1&b=2"_qs);
        TShownRow linkedRow(linked, false);
        QLabel* pLogo = linkedRow.m_pRow->logoLabel();
        QCOMPARE(pLogo->text(), u"<a href=\"https://www.quorvane.com/vantor?a=1&amp;b=2\">"
                                "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"_qs);
        QCOMPARE(pLogo->textFormat(), Qt::RichText);
        QVERIFY(pLogo->openExternalLinks());
        QVERIFY(pLogo->styleSheet().isEmpty());
        setStatus(*linked, 4);
        QVERIFY(pLogo->text().contains(u"VantorLogo_QT.png"_qs));
    }

    void sizesComeFromThePictures() {
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor"_qs, testsupport::packageDocument(u"1"_qs));
        TShownRow shown(pPackage, false);
        const QSize logoSize = QPixmap(u":/images/launcher/LauncherLogo_QT.png"_qs).size();
        QVERIFY(!logoSize.isEmpty());
        QCOMPARE(shown.m_pRow->logoLabel()->size(), logoSize);
        QCOMPARE(shown.m_pRow->progressBar()->size(), QSize(98, 40));
        QCOMPARE(shown.m_pRow->progressBar()->maximum(), 100);
        QVERIFY(shown.m_pRow->progressBar()->isTextVisible());
    }

    void versionAndName() {
        const auto versioned =
            testsupport::makeWindowPackage(0, u"Vantor Online"_qs, testsupport::packageDocument(u"1.4.2"_qs));
        TShownRow named(versioned, true);
        QCOMPARE(named.m_pRow->nameLabel()->text(), u"Vantor Online"_qs);
        QCOMPARE(named.m_pRow->versionLabel()->text(), u"1.4.2"_qs);

        const auto unversioned =
            testsupport::makeWindowPackage(1, u"Preview"_qs, testsupport::packageDocument(QString()));
        TShownRow unnamed(unversioned, false);
        QVERIFY(unnamed.m_pRow->nameLabel() == nullptr);
        QCOMPARE(unnamed.m_pRow->versionLabel()->text(), u"?"_qs);

        const auto unconfigured = testsupport::makeWindowPackage(2, u"Bare"_qs, QByteArray());
        TShownRow bare(unconfigured, true);
        QCOMPARE(bare.m_pRow->versionLabel()->text(), QString());
        QCOMPARE(bare.m_pRow->logoLabel()->styleSheet(),
                 u"QLabel { image: url(:/images/launcher/VantorLogo_QT_disabled.png); }"_qs);
    }

    void clicksBecomeSignals() {
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor"_qs, testsupport::packageDocument(u"1"_qs));
        TShownRow shown(pPackage, false);
        TClientPackageLayoutItem& row = *shown.m_pRow;
        TPackageSignals clicked;
        TPackageSignals verify;
        connect(&row, &TClientPackageLayoutItem::buttonClicked, this,
                [&](std::shared_ptr<TPackage> pClicked) { clicked.add(pClicked); });
        connect(&row, &TClientPackageLayoutItem::verifyButtonClicked, this,
                [&](std::shared_ptr<TPackage> pClicked) { verify.add(pClicked); });

        QTest::mouseClick(row.button(), Qt::LeftButton);
        QCOMPARE(clicked.count(), size_t(1));
        QCOMPARE(clicked.m_Packages[0], pPackage);

        setStatus(*pPackage, 4);
        row.button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(verify.count(), size_t(1));
        QCOMPARE(verify.m_Packages[0], pPackage);
        QCOMPARE(clicked.count(), size_t(1));

        // Refreshing the same status again leaves one action, not two.
        setStatus(*pPackage, 4);
        QCOMPARE(menuTexts(row), QStringList{u"Verify"_qs});
        QCOMPARE(row.button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    }

    void checkBoxReportsDefault() {
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor"_qs, testsupport::packageDocument(u"1"_qs));
        setStatus(*pPackage, 4);
        TShownRow shown(pPackage, false);
        QCheckBox* pBox = shown.m_pRow->defaultClientCheckBox();
        QCOMPARE(pBox->text(), u"Default Client"_qs);
        QVERIFY(pBox->isVisible());
        TPackageSignals changed;
        connect(
            shown.m_pRow, &TClientPackageLayoutItem::defaultChanged, this,
            [&](std::shared_ptr<TPackage> pChanged, bool IsDefault) { changed.add(pChanged, IsDefault); });

        QTest::mouseClick(pBox, Qt::LeftButton, Qt::NoModifier, QPoint(6, pBox->height() / 2));
        QVERIFY(pBox->isChecked());
        pBox->setCheckState(Qt::PartiallyChecked);
        pBox->setChecked(false);
        QCOMPARE(changed.count(), size_t(2));
        QCOMPARE(changed.m_Flags, (std::vector<bool>{true, false}));
        QCOMPARE(changed.m_Packages[1], pPackage);

        // A hidden box keeps its room, so rows of different states line up.
        const int height = shown.m_Host.sizeHint().height();
        setStatus(*pPackage, 3);
        QVERIFY(!pBox->isVisible());
        QCOMPARE(shown.m_Host.sizeHint().height(), height);
    }

    void progressOfARun() {
        QTemporaryDir launcherDirectory;
        auto pFileSystem = std::make_shared<TLauncherFilesystemHelper>(launcherDirectory.path());
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor"_qs, testsupport::packageDocument(u"2.0"_qs));
        setStatus(*pPackage, 3);
        TShownRow shown(pPackage, false);
        TClientPackageLayoutItem& row = *shown.m_pRow;
        QProgressBar* pBar = row.progressBar();

        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, pFileSystem);
        row.onInstallationOrUpdateStarted(*pInstallation);
        QVERIFY(!row.button()->isVisible());
        QVERIFY(pBar->isVisible());
        QCOMPARE(pBar->maximum(), 10000);
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(pBar->format(), QString());

        // Phase progress comes from worker threads and reaches the row queued.
        emit pInstallation->scanProgress(1234567, 9876543);
        QCOMPARE(pBar->format(), QString());
        QTRY_COMPARE(pBar->format(), u"Scanning..."_qs);
        QCOMPARE(pBar->value(), 1250);
        QCOMPARE(row.versionLabel()->text(), u"1.2/9.9 MB"_qs);

        emit pInstallation->verificationProgress(0, 0);
        QTRY_COMPARE(pBar->format(), u"Verifying..."_qs);
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), u"0.0/0.0 MB"_qs);

        emit pInstallation->writeProgress(1500000, 3000000);
        QTRY_COMPARE(pBar->format(), u"Writing..."_qs);
        QCOMPARE(pBar->value(), 5000);
        QCOMPARE(row.versionLabel()->text(), u"1.5/3.0 MB"_qs);

        // While downloading, the bar shows the rate (none measured yet); once
        // everything has arrived, the writing that is left.
        TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
        emit pDownloader->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(pBar->format(), u"0 B/s"_qs);
        QCOMPARE(pBar->value(), 2500);
        QCOMPARE(row.versionLabel()->text(), u"0.3/1.0 MB"_qs);
        emit pDownloader->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(pBar->format(), u"Writing..."_qs);
        QCOMPARE(pBar->value(), 2500);
        QCOMPARE(row.versionLabel()->text(), u"1.0/4.0 MB"_qs);
        emit pDownloader->progress(0, 0, 0, 0);
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), u"0.0/0.0 MB"_qs);

        setStatus(*pPackage, 4);
        QVERIFY(!row.button()->isVisible());
        row.onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(row.button()->isVisible());
        QVERIFY(!pBar->isVisible());
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), u"2.0"_qs);
        QVERIFY(row.button()->styleSheet().contains(u"Button_Green_idle.png"_qs));

        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(row.versionLabel()->text(), u"2.0"_qs);
    }
};

LAUNCHER_TEST(TestClientPackageLayoutItem)
#include "tst_clientpackagelayoutitem.moc"
