#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
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
    explicit TShownRow(std::shared_ptr<TPackage> pPackage, bool ShowNames = false)
        : m_pRow(new TClientPackageLayoutItem(std::move(pPackage), ShowNames)) {
        m_Host.setLayout(m_pRow);
        m_Host.show();
    }
    TClientPackageLayoutItem* operator->() const { return m_pRow; }
};

void setStatus(TPackage& Package, int Status) {
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

// What the row shows: button colour (idle, hover, pressed) and icon, menu entries, logo, default box.
QString look(const TClientPackageLayoutItem& Row) {
    const QString style = Row.button()->styleSheet();
    QStringList parts;
    for (const QString& colour : {u"Red"_qs, u"Blue"_qs, u"Orange"_qs, u"Green"_qs}) {
        if (style.count(u"Button_"_qs + colour) == 3) {
            parts << colour;
        }
    }
    const int icon = style.indexOf(u"Icon_"_qs);
    parts << (icon < 0 ? QString() : style.mid(icon + 5, style.indexOf(u".png"_qs, icon) - icon - 5))
          << Row.button()->toolTip() << QString::number(Row.button()->contextMenu()->actions().size())
          << Row.logoLabel()->styleSheet().section(u"VantorLogo_"_qs, 1).section(u".png"_qs, 0, 0)
          << (Row.defaultClientCheckBox()->isVisible() ? u"box"_qs : QString());
    return parts.join(u' ');
}

} // namespace

class TestClientPackageLayoutItem : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<std::shared_ptr<TPackage>>("std::shared_ptr<TPackage>"); }

    void progressTexts() {
        // A unit is taken once the rate exceeds its binary threshold, but divided by the decimal unit.
        const std::pair<quint64, const char*> speeds[] = {
            {1024, "1024 B/s"},    {1025, "1.0 KB/s"},          {1048576, "1048.6 KB/s"},
            {1048577, "1.0 MB/s"}, {1073741824, "1073.7 MB/s"}, {1073741825, "1.1 GB/s"}};
        for (const auto& [rate, text] : speeds) {
            QCOMPARE(speedText(rate), QLatin1String(text));
        }
        // Done, total, text, bar: beyond 32 bits, rounding half away, an empty phase, an overshoot.
        const std::tuple<quint64, quint64, const char*, int> phases[] = {
            {1234567, 9876543, "1.2/9.9 MB", 1250},
            {20000000000, 20000000000, "20000.0/20000.0 MB", 10000},
            {1, 20000, "0.0/0.0 MB", 1},
            {700000, 0, "0.0/0.0 MB", 0},
            {3000000, 2000000, "3.0/2.0 MB", 10000}};
        for (const auto& [done, total, text, bar] : phases) {
            QCOMPARE(megabytesText(done, total), QLatin1String(text));
            QCOMPARE(progressBarValue(done, total), bar);
        }
    }

    void statusDecidesLook_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("look");
        QTest::newRow("not determined") << 0 << "Red   0 QT_disabled ";
        QTest::newRow("not installed") << 1 << "Blue Download Download 0 QT_disabled ";
        QTest::newRow("partial") << 2 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("update") << 3 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("up to date") << 4 << "Green Play Play 1 QT box";
        QTest::newRow("beyond") << 5 << "Green Play Play 1 QT ";
    }

    void statusDecidesLook() {
        QFETCH(int, status);
        QFETCH(QString, look);
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"7"_qs));
        TShownRow row(pPackage);
        // Walk through another status first, so that the refresh is what is tested.
        setStatus(*pPackage, status == 4 ? 1 : 4);
        setStatus(*pPackage, status);
        QCOMPARE(::look(*row.m_pRow), look);
        // A hidden default box keeps its room, so rows of different states line up.
        QVERIFY(row->defaultClientCheckBox()->sizePolicy().retainSizeWhenHidden());
        QCOMPARE(row->progressBar()->size(), row->button()->size());
    }

    void logoFollowsGenerationAndVariant_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("logo");
        QTest::newRow("first generation wins")
            << packageDocument(u"1"_qs, u"first"_qs, u"beta"_qs) << "Classic";
        QTest::newRow("preview") << packageDocument(u"1"_qs, u"second"_qs, u"preview"_qs) << "Preview";
        QTest::newRow("beta") << packageDocument(u"1"_qs, u"second"_qs, u"beta"_qs) << "Beta";
        QTest::newRow("test") << packageDocument(u"1"_qs, u"second"_qs, u"test"_qs) << "Test";
        QTest::newRow("unknown word") << packageDocument(u"1"_qs, u"second"_qs, u"Beta"_qs) << "QT";
        QTest::newRow("no document") << QByteArray() << "QT";
    }

    void logoFollowsGenerationAndVariant() {
        QFETCH(QByteArray, document);
        QFETCH(QString, logo);
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, document);
        TShownRow row(pPackage);
        setStatus(*pPackage, 4);
        QVERIFY(look(*row.m_pRow).endsWith(u' ' + logo + u" box"_qs));
    }

    void logoLinkVersionAndName() {
        TShownRow linked(makeWindowPackage(0, u"Linked"_qs, packageDocument(u"1.4.2"_qs),
                                           u"https://www.quorvane.com/vantor?a=1&b=2"_qs),
                         true);
        QCOMPARE(linked->logoLabel()->text(),
                 u"<a href=\"https://www.quorvane.com/vantor?a=1&amp;b=2\">"
                 "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"_qs);
        QVERIFY(linked->logoLabel()->openExternalLinks());
        QCOMPARE(linked->nameLabel()->text() + linked->versionLabel()->text(), u"Linked1.4.2"_qs);
        TShownRow unversioned(makeWindowPackage(1, u"Preview"_qs, packageDocument(QString())));
        QVERIFY(unversioned->nameLabel() == nullptr);
        QCOMPARE(unversioned->versionLabel()->text(), u"?"_qs);
        QCOMPARE(TShownRow(makeWindowPackage(2, u"Bare"_qs, QByteArray()))->versionLabel()->text(),
                 QString());
    }

    void signalsCarryThePackage() {
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"1"_qs));
        TShownRow row(pPackage);
        QSignalSpy clicked(row.m_pRow, &TClientPackageLayoutItem::buttonClicked);
        QSignalSpy verify(row.m_pRow, &TClientPackageLayoutItem::verifyButtonClicked);
        QSignalSpy defaultChanged(row.m_pRow, &TClientPackageLayoutItem::defaultChanged);
        QTest::mouseClick(row->button(), Qt::LeftButton);
        setStatus(*pPackage, 4);
        setStatus(*pPackage, 4); // a refresh of the same status leaves one action, not two
        QCOMPARE(row->button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        row->button()->contextMenu()->actions().first()->trigger();
        row->defaultClientCheckBox()->click();
        row->defaultClientCheckBox()->click();
        QCOMPARE(clicked.count() + verify.count(), 2);
        QCOMPARE(verify.at(0).at(0).value<std::shared_ptr<TPackage>>(), pPackage);
        QCOMPARE(defaultChanged.count(), 2);
        QCOMPARE(defaultChanged.at(0).at(1).toBool() && !defaultChanged.at(1).at(1).toBool(), true);
    }

    void progressOfARun() {
        QTemporaryDir launcherDirectory;
        const auto pPackage = makeWindowPackage(0, u"Vantor"_qs, packageDocument(u"2.0"_qs));
        TShownRow row(pPackage);
        QProgressBar* pBar = row->progressBar();
        auto pInstallation = std::make_unique<TPackageInstallation>(
            pPackage, std::make_shared<TLauncherFilesystemHelper>(launcherDirectory.path()));
        row->onInstallationOrUpdateStarted(*pInstallation);
        QVERIFY(!row->button()->isVisible() && pBar->isVisible());
        QCOMPARE(pBar->maximum(), 10000);
        // Phase progress comes from worker threads and reaches the row queued.
        emit pInstallation->scanProgress(5, 10);
        QTRY_COMPARE(pBar->format(), u"Scanning..."_qs);
        QCOMPARE(pBar->value(), 5000);
        emit pInstallation->verificationProgress(1, 4);
        QTRY_COMPARE(pBar->format(), u"Verifying..."_qs);
        emit pInstallation->writeProgress(1500000, 3000000);
        QTRY_COMPARE(pBar->format(), u"Writing..."_qs);
        QCOMPARE(row->versionLabel()->text(), u"1.5/3.0 MB"_qs);
        // While downloading, the bar shows the rate (none measured yet); once
        // everything has arrived, the writing that is left.
        TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
        emit pDownloader->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(pBar->format() + row->versionLabel()->text(), u"0 B/s0.3/1.0 MB"_qs);
        emit pDownloader->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(pBar->format() + row->versionLabel()->text(), u"Writing...1.0/4.0 MB"_qs);

        row->onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(row->button()->isVisible() && !pBar->isVisible());
        QCOMPARE(pBar->value(), 0);
        QCOMPARE(row->versionLabel()->text(), u"2.0"_qs);
        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(row->versionLabel()->text(), u"2.0"_qs);
    }
};

LAUNCHER_TEST(TestClientPackageLayoutItem)
#include "tst_clientpackagelayoutitem.moc"
