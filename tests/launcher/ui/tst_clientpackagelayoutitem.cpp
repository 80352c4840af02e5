#include "launcher/ui/clientpackagelayoutitem.h"

#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/ui/qcontextpushbutton.h"
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
        const QStringList verify{QStringLiteral("Verify")};
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

        const auto pPackage = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor"), testsupport::packageDocument(QStringLiteral("7")));
        TShownRow shown(pPackage, false);
        TClientPackageLayoutItem& row = *shown.m_pRow;
        // Walk through another status first, so that the refresh is what is tested.
        setStatus(*pPackage, status == 4 ? 1 : 4);
        setStatus(*pPackage, status);

        const QString style = row.button()->styleSheet();
        for (const QString& state :
             {QStringLiteral("idle"), QStringLiteral("hover"), QStringLiteral("pressed")}) {
            QVERIFY2(style.contains(QStringLiteral(":/images/launcher/Button_%1_%2.png").arg(colour, state)),
                     qPrintable(style));
        }
        if (icon.isEmpty()) {
            QVERIFY(!style.contains(QStringLiteral("Icon_")));
        } else {
            QVERIFY(style.contains(QStringLiteral("image: url(:/images/launcher/Icon_%1.png)").arg(icon)));
        }
        QCOMPARE(row.button()->toolTip(), icon);
        QCOMPARE(row.button()->size(), QSize(98, 40));
        QCOMPARE(menuTexts(row), menu);
        QCOMPARE(opensMenuOnRightClick(row), !menu.isEmpty());
        QCOMPARE(row.logoLabel()->styleSheet().contains(QStringLiteral("_disabled.png")), disabledLogo);
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
            0, QStringLiteral("Vantor"),
            testsupport::packageDocument(QStringLiteral("1"), generation, variant));
        TShownRow shown(pPackage, false);
        QCOMPARE(
            shown.m_pRow->logoLabel()->styleSheet(),
            QStringLiteral("QLabel { image: url(:/images/launcher/VantorLogo_%1_disabled.png); }").arg(logo));
        setStatus(*pPackage, 4);
        QCOMPARE(shown.m_pRow->logoLabel()->styleSheet(),
                 QStringLiteral("QLabel { image: url(:/images/launcher/VantorLogo_%1.png); }").arg(logo));
    }

    void logoWithLinkIsClickable() {
        const auto plain = testsupport::makeWindowPackage(0, QStringLiteral("Plain"),
                                                          testsupport::packageDocument(QStringLiteral("1")));
        TShownRow plainRow(plain, false);
        QVERIFY(plainRow.m_pRow->logoLabel()->text().isEmpty());
        QVERIFY(!plainRow.m_pRow->logoLabel()->openExternalLinks());
        QCOMPARE(plainRow.m_pRow->logoLabel()->toolTip(), QStringLiteral("Plain"));

        const auto linked = testsupport::makeWindowPackage(
            1, QStringLiteral("Linked"), testsupport::packageDocument(QStringLiteral("1")),
            QStringLiteral("https://www.quorvane.com/vantor?a=1&b=2"));
        TShownRow linkedRow(linked, false);
        QLabel* pLogo = linkedRow.m_pRow->logoLabel();
        QCOMPARE(pLogo->text(),
                 QStringLiteral("<a href=\"https://www.quorvane.com/vantor?a=1&amp;b=2\">"
                                "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"));
        QCOMPARE(pLogo->textFormat(), Qt::RichText);
        QVERIFY(pLogo->openExternalLinks());
        QVERIFY(pLogo->styleSheet().isEmpty());
        setStatus(*linked, 4);
        QVERIFY(pLogo->text().contains(QStringLiteral("VantorLogo_QT.png")));
    }

    void sizesComeFromThePictures() {
        const auto pPackage = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor"), testsupport::packageDocument(QStringLiteral("1")));
        TShownRow shown(pPackage, false);
        const QSize logoSize = QPixmap(QStringLiteral(":/images/launcher/LauncherLogo_QT.png")).size();
        QVERIFY(!logoSize.isEmpty());
        QCOMPARE(shown.m_pRow->logoLabel()->size(), logoSize);
        QCOMPARE(shown.m_pRow->progressBar()->size(), QSize(98, 40));
        QCOMPARE(shown.m_pRow->progressBar()->maximum(), 100);
        QVERIFY(shown.m_pRow->progressBar()->isTextVisible());
    }

    void versionAndName() {
        const auto versioned = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor Online"), testsupport::packageDocument(QStringLiteral("1.4.2")));
        TShownRow named(versioned, true);
        QCOMPARE(named.m_pRow->nameLabel()->text(), QStringLiteral("Vantor Online"));
        QCOMPARE(named.m_pRow->versionLabel()->text(), QStringLiteral("1.4.2"));

        const auto unversioned = testsupport::makeWindowPackage(1, QStringLiteral("Preview"),
                                                                testsupport::packageDocument(QString()));
        TShownRow unnamed(unversioned, false);
        QVERIFY(unnamed.m_pRow->nameLabel() == nullptr);
        QCOMPARE(unnamed.m_pRow->versionLabel()->text(), QStringLiteral("?"));

        const auto unconfigured = testsupport::makeWindowPackage(2, QStringLiteral("Bare"), QByteArray());
        TShownRow bare(unconfigured, true);
        QCOMPARE(bare.m_pRow->versionLabel()->text(), QString());
        QCOMPARE(bare.m_pRow->logoLabel()->styleSheet(),
                 QStringLiteral("QLabel { image: url(:/images/launcher/VantorLogo_QT_disabled.png); }"));
    }

    void clicksBecomeSignals() {
        const auto pPackage = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor"), testsupport::packageDocument(QStringLiteral("1")));
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
        QCOMPARE(menuTexts(row), QStringList{QStringLiteral("Verify")});
        QCOMPARE(row.button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    }

    void checkBoxReportsDefault() {
        const auto pPackage = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor"), testsupport::packageDocument(QStringLiteral("1")));
        setStatus(*pPackage, 4);
        TShownRow shown(pPackage, false);
        QCheckBox* pBox = shown.m_pRow->defaultClientCheckBox();
        QCOMPARE(pBox->text(), QStringLiteral("Default Client"));
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
        const auto pPackage = testsupport::makeWindowPackage(
            0, QStringLiteral("Vantor"), testsupport::packageDocument(QStringLiteral("2.0")));
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
        QTRY_COMPARE(pBar->format(), QStringLiteral("Scanning..."));
        QCOMPARE(pBar->value(), 1250);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("1.2/9.9 MB"));

        emit pInstallation->verificationProgress(0, 0);
        QTRY_COMPARE(pBar->format(), QStringLiteral("Verifying..."));
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("0.0/0.0 MB"));

        emit pInstallation->writeProgress(1500000, 3000000);
        QTRY_COMPARE(pBar->format(), QStringLiteral("Writing..."));
        QCOMPARE(pBar->value(), 5000);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("1.5/3.0 MB"));

        // While downloading, the bar shows the rate (none measured yet); once
        // everything has arrived, the writing that is left.
        TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
        emit pDownloader->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(pBar->format(), QStringLiteral("0 B/s"));
        QCOMPARE(pBar->value(), 2500);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("0.3/1.0 MB"));
        emit pDownloader->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(pBar->format(), QStringLiteral("Writing..."));
        QCOMPARE(pBar->value(), 2500);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("1.0/4.0 MB"));
        emit pDownloader->progress(0, 0, 0, 0);
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("0.0/0.0 MB"));

        setStatus(*pPackage, 4);
        QVERIFY(!row.button()->isVisible());
        row.onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(row.button()->isVisible());
        QVERIFY(!pBar->isVisible());
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("2.0"));
        QVERIFY(row.button()->styleSheet().contains(QStringLiteral("Button_Green_idle.png")));

        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(row.versionLabel()->text(), QStringLiteral("2.0"));
    }
};

QTEST_MAIN(TestClientPackageLayoutItem)
#include "tst_clientpackagelayoutitem.moc"
