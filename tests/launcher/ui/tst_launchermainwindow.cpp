#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/progresstext.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "shared/randomhints/hint.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

using namespace mirrel::launcher;
using testsupport::operator""_qs;
using TPackagePointer = std::shared_ptr<TPackage>;
using Position = THintPanel::ETilePosition;

namespace {

const Position Positions[] = {Position::Left, Position::Middle, Position::Right};

// A shown window over packages of the given names, as the application controller would build it.
struct TWindowKit {
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::shared_ptr<TCloudflareCdnTrace> m_pTrace;
    std::unique_ptr<TLauncherMainWindow> m_pWindow;

    explicit TWindowKit(const char* Names, const QUrl& TraceUrl = QUrl())
        : m_pConfiguration(testsupport::makeWindowConfiguration(
              QString::fromLatin1(Names).split(u' ', Qt::SkipEmptyParts)))
        , m_pTrace(std::make_shared<TCloudflareCdnTrace>(TraceUrl, testsupport::makeDownloadPool())) {}
    TLauncherMainWindow* operator->() {
        if (!m_pWindow) {
            m_pWindow = std::make_unique<TLauncherMainWindow>(m_pConfiguration->availablePackages(), nullptr,
                                                              false, testsupport::makeDownloadPool(),
                                                              m_pTrace, m_pConfiguration);
            m_pWindow->show();
        }
        return m_pWindow.get();
    }
    TPackagePointer package(int Index) const { return m_pConfiguration->packages().at(Index); }
    void setStatus(int Index, int Status) {
        package(Index)->setLocalStatus(Status);
        emit package(Index)->localPackageStatusChanged();
    }
    // A row's button colour (in all three states) and icon, menu entries, logo and default box.
    QString look(int Index) {
        const TClientPackageLayoutItem* pRow = (*this)->row(Index);
        const QString style = pRow->button()->styleSheet();
        const int icon = style.indexOf(u"Icon_"_qs) + 5;
        QString colour = style.section(u"Button_"_qs, 1).section(u'_', 0, 0);
        colour += style.count(u"Button_"_qs + colour) == 3 ? QString() : u"?"_qs;
        return QStringList{
            colour,
            icon < 5 ? QString() : style.mid(icon, style.indexOf(u".png"_qs, icon) - icon),
            pRow->button()->toolTip(),
            QString::number(pRow->button()->contextMenu()->actions().size()),
            pRow->logoLabel()->styleSheet().section(u"VantorLogo_"_qs, 1).section(u".png"_qs, 0, 0),
            pRow->defaultClientCheckBox()->isVisible() ? u"box"_qs : QString()}
            .join(u' ');
    }
    // The default-client marks of the rows, then the window's default package.
    QString defaults() {
        QString marks;
        for (int index = 0; (*this)->row(index) != nullptr; ++index) {
            marks += (*this)->row(index)->defaultClientCheckBox()->isChecked() ? u'x' : u'-';
        }
        return marks + QString::number(m_pWindow->defaultPackageIndex());
    }
    // The labels a hint left in a tile: the picture, then the caption.
    QList<ClickableLabel*> tile(Position At) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return (*this)->hintPanel()->section(At)->findChildren<ClickableLabel*>(QString(),
                                                                                Qt::FindDirectChildrenOnly);
    }
    QString captions() {
        QStringList texts;
        for (Position at : Positions) {
            texts << (tile(at).size() == 2 ? tile(at)[1]->text() : QString());
        }
        return texts.join(u'|');
    }
    bool showsPicture(Position At) { return !tile(At).at(0)->pixmap(Qt::ReturnByValue).isNull(); }
};

shared::THint makeHint(const QString& Category, const QString& Text, const QUrl& ImageUrl) {
    shared::THint hint;
    hint.m_Title = hint.m_RichText = Text;
    hint.m_Category = Category;
    hint.m_ImageUrl = ImageUrl.toString();
    hint.m_Url = u"https://www.quorvane.com/hints/"_qs + Category;
    return hint;
}

} // namespace

class TestLauncherMainWindow : public QObject {
    Q_OBJECT

public slots:
    void openUrl(const QUrl& Url) { m_OpenedUrls.append(Url); }

private slots:
    void initTestCase() {
        qRegisterMetaType<TPackagePointer>("std::shared_ptr<TPackage>");
        m_Nginx.writeFile(u"cdn-cgi/trace"_qs, "fl=123f45\nip=192.0.2.1\nts=1700000000.123\ncolo=FRA\n");
        m_Nginx.writeFile(u"img/a.png"_qs, testsupport::pngOfSize(64, 48));
        m_Nginx.writeFile(u"img/b.png"_qs, testsupport::pngOfSize(400, 100));
        m_Nginx.addFixedStatus(u"/broken/trace"_qs, 502);
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        // Whatever a hint would open is only recorded, never handed to the desktop.
        for (const QString& scheme : {u"https"_qs, u"file"_qs, u"steam"_qs}) {
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
        }
    }

    void init() { m_OpenedUrls.clear(); }

    void progressTexts() {
        // A unit is taken once the rate exceeds its binary threshold, but divided by the decimal unit.
        const std::pair<quint64, const char*> speeds[] = {
            {1024, "1024 B/s"},    {1025, "1.0 KB/s"},          {1048576, "1048.6 KB/s"},
            {1048577, "1.0 MB/s"}, {1073741824, "1073.7 MB/s"}, {1073741825, "1.1 GB/s"}};
        for (const auto& [rate, text] : speeds) {
            QCOMPARE(speedText(rate), QLatin1String(text));
        }
        // Done, total, text, bar: beyond 32 bits, rounding half away, an empty phase, an overshoot.
        const std::tuple<quint64, quint64, const char*> phases[] = {
            {1234567, 9876543, "1.2/9.9 MB 1250"},
            {20000000000, 20000000000, "20000.0/20000.0 MB 10000"},
            {1, 20000, "0.0/0.0 MB 1"},
            {700000, 0, "0.0/0.0 MB 0"},
            {3000000, 2000000, "3.0/2.0 MB 10000"}};
        for (const auto& [done, total, text] : phases) {
            QCOMPARE(megabytesText(done, total) + u' ' + QString::number(progressBarValue(done, total)),
                     QLatin1String(text));
        }
    }

    void rowLooksFollowStatusAndDocument_data() {
        QTest::addColumn<QString>("variant");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("look");
        QTest::newRow("not determined") << "second regular" << 0 << "Red   0 QT_disabled ";
        QTest::newRow("not installed") << "second regular" << 1 << "Blue Download Download 0 QT_disabled ";
        QTest::newRow("partial") << "second regular" << 2 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("update") << "second regular" << 3 << "Orange Update Update 0 QT_disabled ";
        QTest::newRow("up to date") << "second regular" << 4 << "Green Play Play 1 QT box";
        QTest::newRow("beyond") << "second regular" << 5 << "Green Play Play 1 QT ";
        QTest::newRow("first generation wins") << "first beta" << 4 << "Green Play Play 1 Classic box";
        QTest::newRow("preview") << "second preview" << 2 << "Orange Update Update 0 Preview_disabled ";
        QTest::newRow("beta") << "second beta" << 4 << "Green Play Play 1 Beta box";
        QTest::newRow("test") << "second test" << 4 << "Green Play Play 1 Test box";
        QTest::newRow("unknown word") << "second Beta" << 4 << "Green Play Play 1 QT box";
    }

    void rowLooksFollowStatusAndDocument() {
        QFETCH(QString, variant);
        QFETCH(int, status);
        QFETCH(QString, look);
        TWindowKit kit("A");
        const QByteArray document =
            testsupport::packageDocument(u"1"_qs, variant.section(u' ', 0, 0), variant.section(u' ', 1));
        kit.package(0)->selectBuildForThisSystem()->Configuration.reset(
            new TPackageConfigurationReader(document, {}, {}, {}));
        // Another status first, so that the refresh is what is tested.
        kit.setStatus(0, status == 4 ? 1 : 4);
        kit.setStatus(0, status);
        QCOMPARE(kit.look(0), look);
        // A hidden default box keeps its room, so rows of different states line up.
        QVERIFY(kit->row(0)->defaultClientCheckBox()->sizePolicy().retainSizeWhenHidden());
        QCOMPARE(kit->row(0)->progressBar()->size(), kit->row(0)->button()->size());
    }

    void rowVersionAndEscapedLogoLink() {
        QWidget host;
        auto* pRow = new TClientPackageLayoutItem(
            testsupport::makeWindowPackage(0, u"V"_qs, testsupport::packageDocument(QString()),
                                           u"https://a.test/?a=1&b=2"_qs),
            false);
        host.setLayout(pRow);
        QCOMPARE(pRow->logoLabel()->text(),
                 u"<a href=\"https://a.test/?a=1&amp;b=2\">"
                 "<img src=\":/images/launcher/VantorLogo_QT_disabled.png\"></a>"_qs);
        QVERIFY(pRow->logoLabel()->openExternalLinks());
        QCOMPARE(pRow->versionLabel()->text(), u"?"_qs);
    }

    void progressOfARun() {
        TWindowKit kit("A B");
        kit.setStatus(1, 3);
        TClientPackageLayoutItem* pRow = kit->row(1);
        QProgressBar* pBar = pRow->progressBar();
        auto pInstallation = std::make_unique<TPackageInstallation>(kit.package(1), m_pFileSystem);
        kit->onInstallationOrUpdateStarted(*pInstallation);
        QVERIFY(!pRow->button()->isVisible() && pBar->isVisible() && kit->row(0)->button()->isVisible());
        QCOMPARE(pBar->maximum(), 10000);
        const auto shown = [&] {
            return u"%1 %2 %3"_qs.arg(pBar->format()).arg(pBar->value()).arg(pRow->versionLabel()->text());
        };
        // Phase progress comes from worker threads and reaches the row queued.
        emit pInstallation->scanProgress(5, 10);
        QTRY_COMPARE(shown(), u"Scanning... 5000 0.0/0.0 MB"_qs);
        emit pInstallation->verificationProgress(1, 4);
        QTRY_COMPARE(pBar->format(), u"Verifying..."_qs);
        emit pInstallation->writeProgress(1500000, 3000000);
        QTRY_COMPARE(shown(), u"Writing... 5000 1.5/3.0 MB"_qs);
        // While downloading the bar shows the rate; once all has arrived, the writing left.
        emit pInstallation->packageFileDownloader()->progress(250000, 1000000, 0, 4000000);
        QCOMPARE(shown(), u"0 B/s 2500 0.3/1.0 MB"_qs);
        emit pInstallation->packageFileDownloader()->progress(1000000, 1000000, 1000000, 4000000);
        QCOMPARE(shown(), u"Writing... 2500 1.0/4.0 MB"_qs);
        kit.setStatus(1, 4);
        kit->onInstallationOrUpdateFinished(*pInstallation);
        QVERIFY(pRow->button()->isVisible() && !pBar->isVisible() && !kit->messageBox());
        QCOMPARE(shown() + kit.look(1), u"Writing... 0 1.1Green Play Play 1 QT box"_qs);
        // Once the run is gone, its late signals reach nobody.
        pInstallation.reset();
        QCOMPARE(pRow->versionLabel()->text(), u"1.1"_qs);
    }

    void windowFooterGridAndDrag() {
        TWindowKit kit("A B C D E");
        // Every footer link once; "About" opens a box of the launcher's, not a web page.
        QStringList texts;
        for (QLabel* pLabel : kit->findChildren<QLabel*>()) {
            texts << pLabel->text();
            QCOMPARE(pLabel->openExternalLinks(), pLabel->text().contains(u"https://"_qs));
        }
        for (const char* part : {"icircle.png", "Twitter.png", "Discord.png", "QuorvaneLogo.png"}) {
            QCOMPARE(texts.filter(QLatin1String(part)).size(), 1);
        }
        // Four packages to a grid row.
        auto* pGrid = kit->centralWidget()->findChild<QGridLayout*>();
        int row = -1, column = -1, span = 0;
        pGrid->getItemPosition(pGrid->indexOf(kit->row(4)), &row, &column, &span, &span);
        QCOMPARE(QPoint(column, row), QPoint(0, 1));
        // The window follows a drag; a new press starts from where the mouse is now, without a jump.
        const QPoint start = kit->pos();
        for (const auto& [type, x, y] : {std::tuple(QEvent::MouseButtonPress, 150, 150),
                                         {QEvent::MouseMove, 180, 150},
                                         {QEvent::MouseButtonRelease, 180, 150},
                                         {QEvent::MouseButtonPress, 400, 300},
                                         {QEvent::MouseMove, 395, 310}}) {
            QMouseEvent event(type, kit->mapFromGlobal(QPoint(x, y)), QPoint(x, y), Qt::LeftButton,
                              Qt::LeftButton, {});
            QApplication::sendEvent(kit.operator->(), &event);
        }
        QCOMPARE(kit->pos(), start + QPoint(25, 10));
        // Without packages the update service could not be reached: a box that leaves the window usable.
        TWindowKit empty("");
        QVERIFY(empty->messageBox()->isVisible() && !empty->messageBox()->isModal());
        QCOMPARE(empty->messageBox()->windowTitle(), u"Connection problem"_qs);
    }

    void rowsReachTheWindowAndOneDefault() {
        TWindowKit kit("A B C");
        for (int index = 0; index < 3; ++index) {
            kit.setStatus(index, index == 2 ? 1 : 4);
        }
        kit.package(0)->setDefaultPackage(true);
        QSignalSpy clicked(kit.operator->(), &TLauncherMainWindow::clientPackageButtonClicked);
        QSignalSpy verify(kit.operator->(), &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        QSignalSpy changes(kit.operator->(), &TLauncherMainWindow::defaultChanged);
        // Only a row with menu entries opens its menu; a choice there is no click.
        const auto rightClickOpensMenu = [&kit](int Index) {
            QContextPushButton* pButton = kit->row(Index)->button();
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2),
                                    pButton->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(pButton, &event);
            return pButton->contextMenu()->isVisible() && pButton->contextMenu()->close();
        };
        QVERIFY(!rightClickOpensMenu(2) && rightClickOpensMenu(1));
        kit.setStatus(1, 4); // a refresh of the same status leaves one action, not two
        QCOMPARE(kit->row(1)->button()->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly).size(),
                 1);
        kit->row(1)->button()->contextMenu()->actions().first()->trigger();
        QTest::mouseClick(kit->row(2)->button(), Qt::LeftButton);
        QCOMPARE(verify.count() + clicked.count(), 2);
        QCOMPARE(verify.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(clicked.at(0).at(0).value<TPackagePointer>(), kit.package(2));

        QCOMPARE(kit.defaults(), u"x--0"_qs);
        kit->row(1)->defaultClientCheckBox()->click();
        QCOMPARE(kit.defaults(), u"-x-1"_qs);
        kit->row(1)->defaultClientCheckBox()->setCheckState(Qt::PartiallyChecked); // no news
        kit->row(1)->defaultClientCheckBox()->setChecked(false);
        QCOMPARE(kit.defaults(), u"----1"_qs);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QVERIFY(changes.at(0).at(1).toBool() && !changes.at(1).at(1).toBool());
        // Unchecking a non-default changes nothing; the controller's decision moves the mark silently.
        kit->onDefaultClientPackageCheckboxChanged(kit.package(2), false);
        kit->setDefault(kit.package(2), true);
        QCOMPARE(kit.defaults(), u"--x2"_qs);
        QCOMPARE(changes.count(), 2);
    }

    void hintRowOfThreeTiles() {
        TWindowKit kit("A");
        THintPanel* pPanel = kit->hintPanel();
        QSignalSpy rowShown(pPanel, &THintPanel::hintRowShown);
        // The first hint of a category is shown; later documents replace the tiles.
        for (const QString& round : {u"0"_qs, u"1"_qs}) {
            kit->setHints({hint("cat3", "R", "img/a.png"), makeHint(u"other"_qs, u"Ignored"_qs, QUrl()),
                           hint("cat1", u"L"_qs + round, "img/b.png"), hint("cat1", "Later", "img/a.png"),
                           hint("cat2", "M", "img/a.png")});
        }
        QCOMPARE(rowShown.count(), 2);
        QVERIFY(rowShown.at(1).at(0).toBool() && !kit->hasHintPlaceholder());
        QTRY_COMPARE(pPanel->pendingPictureCount(), 0);
        QCOMPARE(kit.captions(), u"L1|M|R"_qs);
        for (Position at : Positions) {
            // A masked tile of one picture and one caption; the picture covers it, centred.
            const QRect section = pPanel->section(at)->rect(), picture = kit.tile(at).at(0)->geometry();
            QVERIFY(!pPanel->tile(at)->mask().isEmpty() && kit.tile(at).size() == 2 && kit.showsPicture(at));
            QVERIFY(picture.contains(section.adjusted(0, 0, -1, -1)) &&
                    picture.center().x() == section.center().x());
        }
        // A click anywhere on a tile opens the hint's link.
        QTest::mouseClick(kit.tile(Position::Middle).at(1), Qt::LeftButton);
        QTest::mouseClick(kit.tile(Position::Right).at(0), Qt::LeftButton);
        QCOMPARE(m_OpenedUrls, (QList<QUrl>{QUrl(u"https://www.quorvane.com/hints/cat2"_qs),
                                            QUrl(u"https://www.quorvane.com/hints/cat3"_qs)}));
        // Without every category the row goes and the window's placeholder keeps the room.
        kit->setHints({hint("cat1", "L", "img/a.png"), hint("cat3", "R", "img/a.png")});
        QCOMPARE(rowShown.last().at(0).toBool(), false);
        QVERIFY(pPanel->sectionsContainer()->isHidden() && pPanel->hintBox()->isVisible() &&
                kit->hasHintPlaceholder());
        // Tiles of 286 x 84: left ends in a slant, middle has two, right begins with one.
        for (const auto& [at, point, inside] : {std::tuple(Position::Left, QPoint(284, 1), true),
                                                {Position::Left, {285, 83}, false},
                                                {Position::Middle, {1, 1}, false},
                                                {Position::Middle, {1, 82}, true},
                                                {Position::Middle, {284, 82}, false},
                                                {Position::Right, {1, 1}, false}}) {
            QCOMPARE(THintPanel::tileShape(at, QSize(286, 84)).contains(point), inside);
        }
    }

    void hostileHintsKeepCaptionAndOpenOnlyWebPages() {
        TWindowKit kit("A");
        shared::THint lost = hint("cat1", "Lost", "img/404.png"),
                      climbing = hint("cat2", "Climbing", "img/../../x");
        shared::THint none = makeHint(u"cat3"_qs, u"None"_qs, QUrl());
        lost.m_Url = u"file:///etc/passwd"_qs;
        climbing.m_Url = u"steam://run/1"_qs;
        none.m_Url = u"HTTPS://www.quorvane.com/news"_qs;
        kit->setHints({lost, climbing, none});
        for (Position at : Positions) {
            QVERIFY(!kit.showsPicture(at));
            QTest::mouseClick(kit.tile(at).at(0), Qt::LeftButton);
        }
        QCOMPARE(kit.captions(), u"Lost|Climbing|None"_qs);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/news"_qs)});
    }

    void downloadFailureDiagnostics_data() {
        QTest::addColumn<QString>("tracePath");
        QTest::addColumn<bool>("closeBeforeTrace");
        QTest::addColumn<QString>("ending");
        QTest::newRow("trace arrives")
            << u"cdn-cgi/trace"_qs << false << u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs;
        QTest::newRow("closed meanwhile") << u"cdn-cgi/trace"_qs << true << u"Loading, please wait..."_qs;
        QTest::newRow("trace answered 502")
            << u"broken/trace"_qs << false << u"Failed to obtain information."_qs;
    }

    void downloadFailureDiagnostics() {
        QFETCH(QString, tracePath);
        QFETCH(bool, closeBeforeTrace);
        QFETCH(QString, ending);
        TWindowKit kit("Vantor Preview", m_Nginx.url(tracePath));
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);
        kit->onInstallationOrUpdateFinished(
            *failedRun(kit.package(0), EPackageDownloaderError::DownloadFailed));
        QMessageBox* pBox = kit->messageBox();
        QCOMPARE(pBox->windowTitle(), u"Download failed"_qs);
        QVERIFY(pBox->text().startsWith(u"The installation of Vantor failed.\n\nNot all files necessary"_qs));
        QVERIFY(pBox->text().endsWith(u"Diagnostic information: Loading, please wait..."_qs));
        QVERIFY(!closeBeforeTrace || pBox->close());
        QVERIFY(traced.wait());
        QCOMPARE(pBox->isVisible(), !closeBeforeTrace);
        QVERIFY2(pBox->text().endsWith(u"Diagnostic information: "_qs + ending), qPrintable(pBox->text()));
        // A later failure reuses what the first one learnt, at once, in the same box.
        kit->onInstallationOrUpdateFinished(
            *failedRun(kit.package(1), EPackageDownloaderError::DownloadFailed));
        QCOMPARE(kit->messageBox(), pBox);
        QVERIFY(pBox->text().startsWith(u"The installation of Preview failed."_qs));
        QVERIFY(closeBeforeTrace || pBox->text().endsWith(ending));
    }

    void savingAndVerificationFailuresWait() {
        for (const auto reason :
             {EPackageDownloaderError::SavingFailed, EPackageDownloaderError::VerificationFailed}) {
            TWindowKit kit("Vantor");
            // The box waits for the player; the first event of its own loop reads and closes it.
            QString seen = u"no modal box"_qs;
            QTimer::singleShot(0, this, [&seen] {
                if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    seen = pBox->windowTitle() + u'|' + pBox->text().section(u"\n\n"_qs, 1);
                    pBox->done(QMessageBox::Ok);
                }
            });
            kit->onInstallationOrUpdateFinished(*failedRun(kit.package(0), reason));
            QCOMPARE(
                seen,
                reason == EPackageDownloaderError::SavingFailed
                    ? u"Installation failed|Make sure you have enough free disk space and the application "
                      "isn't currently running, then try again."_qs
                    : u"Installation failed|Verification of game data failed!"_qs);
            QVERIFY(kit->messageBox() == nullptr);
        }
    }

private:
    shared::THint hint(const char* Category, const QString& Text, const char* Image) const {
        return makeHint(QLatin1String(Category), Text, m_Nginx.url(QLatin1String(Image)));
    }

    // A finished run of the package that ended for the given reason.
    std::unique_ptr<TPackageInstallation> failedRun(const TPackagePointer& pPackage,
                                                    EPackageDownloaderError Reason) {
        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
        emit pInstallation->packageFileDownloader()->downloadFailed(Reason);
        return pInstallation;
    }

    testsupport::TNginxFixture m_Nginx;
    QList<QUrl> m_OpenedUrls;
    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem =
        std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
};

LAUNCHER_TEST(TestLauncherMainWindow)
#include "tst_launchermainwindow.moc"
