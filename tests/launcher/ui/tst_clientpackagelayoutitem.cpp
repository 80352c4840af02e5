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
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

// A row shown in a widget of its own, as the main window's grid would hold it.
struct TShownRow {
    std::shared_ptr<TPackage> m_pPackage;
    QWidget m_Host;
    TClientPackageLayoutItem* m_pRow = new TClientPackageLayoutItem(m_pPackage, true);
    explicit TShownRow(const QByteArray& Document, int Status = 1, const QString& Link = QString())
        : m_pPackage(testsupport::makeWindowPackage(0, u"Vantor"_qs, Document, Link)) {
        m_Host.setLayout(m_pRow);
        m_Host.show();
        setStatus(Status);
    }
    TClientPackageLayoutItem* operator->() const { return m_pRow; }
    void setStatus(int Status) {
        m_pPackage->setLocalStatus(Status);
        emit m_pPackage->localPackageStatusChanged();
    }
    // Button colour (in all three states) and icon, menu entries, logo and default box, as shown.
    QString look() const {
        const QString style = m_pRow->button()->styleSheet();
        const int icon = style.indexOf(u"Icon_"_qs) + 5;
        QString colour = style.section(u"Button_"_qs, 1).section(u'_', 0, 0);
        colour += style.count(u"Button_"_qs + colour) == 3 ? QString() : u"?"_qs;
        return QStringList{
            colour,
            icon < 5 ? QString() : style.mid(icon, style.indexOf(u".png"_qs, icon) - icon),
            m_pRow->button()->toolTip(),
            QString::number(m_pRow->button()->contextMenu()->actions().size()),
            m_pRow->logoLabel()->styleSheet().section(u"VantorLogo_"_qs, 1).section(u".png"_qs, 0, 0),
            m_pRow->defaultClientCheckBox()->isVisible() ? u"box"_qs : QString()}
            .join(u' ');
    }
};

QByteArray document(const char* Generation, const char* Variant) {
    return testsupport::packageDocument(u"1"_qs, QLatin1String(Generation), QLatin1String(Variant));
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
            QCOMPARE(megabytesText(done, total) + u' ' + QString::number(progressBarValue(done, total)),
                     QLatin1String(text) + u' ' + QString::number(bar));
        }
    }

    void statusAndDocumentDecideTheLook_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("look");
        const QByteArray regular = document("second", "regular");
        QTest::newRow("not determined") << regular << 0 << "Red   0 QT_disabled ";
        QTest::newRow("not installed") << regular << 1 << "Blue Download Download 0 QT_disabled ";
        QTest::newRow("partial") << regular << 2 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("update") << regular << 3 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("up to date") << regular << 4 << "Green Play Play 1 QT box";
        QTest::newRow("beyond") << regular << 5 << "Green Play Play 1 QT ";
        QTest::newRow("first generation wins")
            << document("first", "beta") << 4 << "Green Play Play 1 Classic box";
        QTest::newRow("preview") << document("second", "preview") << 2
                                 << "Orange Update Update 0 Preview_disabled ";
        QTest::newRow("beta") << document("second", "beta") << 4 << "Green Play Play 1 Beta box";
        QTest::newRow("test") << document("second", "test") << 4 << "Green Play Play 1 Test box";
        QTest::newRow("unknown word") << document("second", "Beta") << 4 << "Green Play Play 1 QT box";
        QTest::newRow("no document") << QByteArray() << 1 << "Blue Download Download 0 QT_disabled ";
    }

    void statusAndDocumentDecideTheLook() {
        QFETCH(QByteArray, document);
        QFETCH(int, status);
        QFETCH(QString, look);
        // Another status first, so that the refresh is what is tested.
        TShownRow row(document, status == 4 ? 1 : 4);
        row.setStatus(status);
        QCOMPARE(row.look(), look);
        // A hidden default box keeps its room, so rows of different states line up.
        QVERIFY(row->defaultClientCheckBox()->sizePolicy().retainSizeWhenHidden());
        QCOMPARE(row->progressBar()->size(), row->button()->size());
    }

    void logoLinkVersionAndName() {
        TShownRow linked(document("second", "regular"), 1, u"https://www.quorvane.com/vantor?a=1&b=2"_qs);
        QCOMPARE(linked->logoLabel()->text(),
                 u"<a href=\"https://www.quorvane.com/vantor?a=1&amp;b=2\">"
                 "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"_qs);
        QVERIFY(linked->logoLabel()->openExternalLinks());
        QCOMPARE(linked->nameLabel()->text() + linked->versionLabel()->text(), u"Vantor1"_qs);
        QCOMPARE(TShownRow(testsupport::packageDocument(QString()))->versionLabel()->text(), u"?"_qs);
        QCOMPARE(TShownRow(QByteArray())->versionLabel()->text(), QString());
    }

    void clicksAndChoicesCarryThePackage() {
        TShownRow row(document("second", "regular"));
        QSignalSpy clicked(row.m_pRow, &TClientPackageLayoutItem::buttonClicked);
        QSignalSpy verify(row.m_pRow, &TClientPackageLayoutItem::verifyButtonClicked);
        QSignalSpy defaultChanged(row.m_pRow, &TClientPackageLayoutItem::defaultChanged);
        QMenu* pMenu = row->button()->contextMenu();
        const auto rightClickOpensMenu = [&] {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                    row->button()->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(row->button(), &event);
            return pMenu->isVisible() && pMenu->close();
        };
        QTest::mouseClick(row->button(), Qt::LeftButton);
        QVERIFY(!rightClickOpensMenu());
        row.setStatus(4);
        row.setStatus(4); // a refresh of the same status leaves one action, not two
        QCOMPARE(row->button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        QVERIFY(rightClickOpensMenu());
        pMenu->actions().first()->trigger();
        row->defaultClientCheckBox()->click();
        row->defaultClientCheckBox()->click();
        QCOMPARE(clicked.count() + verify.count(), 2);
        QCOMPARE(verify.at(0).at(0).value<std::shared_ptr<TPackage>>(), row.m_pPackage);
        QCOMPARE(defaultChanged.count(), 2);
        QVERIFY(defaultChanged.at(0).at(1).toBool() && !defaultChanged.at(1).at(1).toBool());
    }

    void progressOfARun() {
        QTemporaryDir launcherDirectory;
        TShownRow row(testsupport::packageDocument(u"2.0"_qs));
        QProgressBar* pBar = row->progressBar();
        auto pInstallation = std::make_unique<TPackageInstallation>(
            row.m_pPackage, std::make_shared<TLauncherFilesystemHelper>(launcherDirectory.path()));
        row->onInstallationOrUpdateStarted(*pInstallation);
        QVERIFY(!row->button()->isVisible() && pBar->isVisible());
        QCOMPARE(pBar->maximum(), 10000);
        const auto shown = [&] {
            return u"%1 %2 %3"_qs.arg(pBar->format()).arg(pBar->value()).arg(row->versionLabel()->text());
        };
        // Phase progress comes from worker threads and reaches the row queued.
        emit pInstallation->scanProgress(5, 10);
        QTRY_COMPARE(shown(), u"Scanning... 5000 0.0/0.0 MB"_qs);
        emit pInstallation->verificationProgress(1, 4);
        QTRY_COMPARE(pBar->format(), u"Verifying..."_qs);
        emit pInstallation->writeProgress(1500000, 3000000);
        QTRY_COMPARE(shown(), u"Writing... 5000 1.5/3.0 MB"_qs);
        // While downloading, the bar shows the rate (none measured yet); once everything has arrived,
        // the writing that is left.
        emit pInstallation->packageFileDownloader()->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(shown(), u"0 B/s 2500 0.3/1.0 MB"_qs);
        emit pInstallation->packageFileDownloader()->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(shown(), u"Writing... 2500 1.0/4.0 MB"_qs);
        row->onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(row->button()->isVisible() && !pBar->isVisible());
        QCOMPARE(shown(), u"Writing... 0 2.0"_qs);
        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(row->versionLabel()->text(), u"2.0"_qs);
    }
};

LAUNCHER_TEST(TestClientPackageLayoutItem)
#include "tst_clientpackagelayoutitem.moc"
