#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "shared/randomhints/hint.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testpaths.h"
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
    std::unique_ptr<TInstallationManager> m_pManager;
    std::unique_ptr<TLauncherMainWindow> m_pWindow;

    explicit TWindowKit(const char* Names, const QUrl& TraceUrl = QUrl())
        : m_pConfiguration(testsupport::makeWindowConfiguration(
              QString::fromLatin1(Names).split(u' ', Qt::SkipEmptyParts)))
        , m_pTrace(std::make_shared<TCloudflareCdnTrace>(TraceUrl, testsupport::makeDownloadPool())) {}
    TLauncherMainWindow* operator->() {
        if (!m_pWindow) {
            m_pWindow = std::make_unique<TLauncherMainWindow>(
                m_pConfiguration->availablePackages(), m_pManager.get(), false,
                testsupport::makeDownloadPool(), m_pTrace, m_pConfiguration);
            m_pWindow->show();
        }
        return m_pWindow.get();
    }
    TPackagePointer package(int Index) const { return m_pConfiguration->packages().at(Index); }
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

// Closes the next modal message box as soon as it is open; gives its title and text.
std::shared_ptr<QStringList> closeNextModalBox() {
    auto pSeen = std::make_shared<QStringList>();
    auto* pPoll = new QTimer;
    QObject::connect(pPoll, &QTimer::timeout, pPoll, [pPoll, pSeen] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *pSeen << pBox->windowTitle() << pBox->text();
            pBox->done(QMessageBox::Ok);
            pPoll->deleteLater();
        }
    });
    pPoll->start(10);
    return pSeen;
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

    void windowFooterGridAndDrag() {
        TWindowKit kit("A B C D E");
        QCOMPARE(kit->windowFlags().testFlag(Qt::WindowMaximizeButtonHint), false);
        // 800 wide; at least 450 high, more when five packages need it, never more than 600.
        QCOMPARE(
            QString::asprintf("%d %d %d", kit->minimumWidth(), kit->maximumWidth(), kit->maximumHeight()),
            u"800 800 600"_qs);
        QVERIFY(kit->minimumHeight() >= 450);
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
            kit.package(index)->setLocalStatus(4);
            emit kit.package(index)->localPackageStatusChanged();
        }
        kit.package(0)->setDefaultPackage(true);
        QSignalSpy clicked(kit.operator->(), &TLauncherMainWindow::clientPackageButtonClicked);
        QSignalSpy verify(kit.operator->(), &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        QSignalSpy changes(kit.operator->(), &TLauncherMainWindow::defaultChanged);
        QTest::mouseClick(kit->row(1)->button(), Qt::LeftButton);
        kit->row(2)->button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(clicked.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(verify.at(0).at(0).value<TPackagePointer>(), kit.package(2));

        QCOMPARE(kit.defaults(), u"x--0"_qs);
        kit->row(1)->defaultClientCheckBox()->click();
        QCOMPARE(kit.defaults(), u"-x-1"_qs);
        kit->row(1)->defaultClientCheckBox()->click();
        QCOMPARE(kit.defaults(), u"----1"_qs);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QVERIFY(changes.at(0).at(1).toBool() && !changes.at(1).at(1).toBool());
        // Unchecking a package that is not the default changes nothing; the controller's own decision
        // moves the mark without a signal back.
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
        // Tiles of 286 x 84: the left one ends in a slant, the middle one has two, the right one begins with
        // one.
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
        shared::THint lost = hint("cat1", "Lost", "img/404.png");
        lost.m_Url = u"file:///etc/passwd"_qs;
        shared::THint climbing = hint("cat2", "Climbing", "img/../../x");
        climbing.m_Url = u"steam://run/1"_qs;
        shared::THint none = makeHint(u"cat3"_qs, u"None"_qs, QUrl());
        none.m_Url = u"HTTPS://www.quorvane.com/news"_qs;
        kit->setHints({lost, climbing, none});
        for (Position at : Positions) {
            QVERIFY(!kit.showsPicture(at));
            QTest::mouseClick(kit.tile(at).at(0), Qt::LeftButton);
        }
        QCOMPARE(kit.captions(), u"Lost|Climbing|None"_qs);
        QCOMPARE(m_OpenedUrls, QList<QUrl>{QUrl(u"https://www.quorvane.com/news"_qs)});
    }

    void stalledPictureDoesNotHoldTheWindow() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/stall.png"_qs,
                         testsupport::TScriptedAnswer::faulty(testsupport::EScriptedFault::StallBeforeHeaders,
                                                              QByteArray()));
        const QUrl quick = m_Nginx.url(u"img/a.png"_qs);
        // A picture that never comes does not hold the window.
        TWindowKit kit("A");
        kit->hintPanel()->setImageDownloadTimeout(300);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Hint picture not received in time"_qs));
        kit->setHints({makeHint(u"cat1"_qs, u"Stalled"_qs, server.url(u"/stall.png"_qs)),
                       makeHint(u"cat2"_qs, u"M"_qs, quick), makeHint(u"cat3"_qs, u"R"_qs, quick)});
        QVERIFY(kit->hintPanel()->sectionsContainer()->isVisible());
        QCOMPARE(kit.captions(), u"Stalled|M|R"_qs);
        QTRY_COMPARE(kit->hintPanel()->pendingPictureCount(), 0);
        QVERIFY(!kit.showsPicture(Position::Left) && kit.showsPicture(Position::Middle));
        server.closeAllConnections();
    }

    void downloadFailureDiagnostics_data() {
        QTest::addColumn<QString>("tracePath");
        QTest::addColumn<bool>("closeBeforeTrace");
        QTest::addColumn<QString>("ending");
        QTest::newRow("trace arrives")
            << u"cdn-cgi/trace"_qs << false << u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs;
        QTest::newRow("closed meanwhile") << u"cdn-cgi/trace"_qs << true << u"Loading, please wait..."_qs;
        QTest::newRow("no trace address") << QString() << false << u"Failed to obtain information."_qs;
        QTest::newRow("trace answered 502")
            << u"broken/trace"_qs << false << u"Failed to obtain information."_qs;
    }

    void downloadFailureDiagnostics() {
        QFETCH(QString, tracePath);
        QFETCH(bool, closeBeforeTrace);
        QFETCH(QString, ending);
        m_Nginx.clearAccessLog();
        TWindowKit kit("Vantor Preview", tracePath.isEmpty() ? QUrl() : m_Nginx.url(tracePath));
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);
        kit->onInstallationOrUpdateFinished(
            *failedRun(kit.package(0), EPackageDownloaderError::DownloadFailed));
        QMessageBox* pBox = kit->messageBox();
        QCOMPARE(pBox->windowTitle(), u"Download failed"_qs);
        QVERIFY(pBox->text().startsWith(u"The installation of Vantor failed.\n\nNot all files necessary"_qs));
        if (!tracePath.isEmpty()) {
            QVERIFY(pBox->text().endsWith(u"Diagnostic information: Loading, please wait..."_qs));
            QVERIFY(!closeBeforeTrace || pBox->close());
            QVERIFY(traced.wait());
        }
        QCOMPARE(pBox->isVisible(), !closeBeforeTrace);
        QVERIFY2(pBox->text().endsWith(u"Diagnostic information: "_qs + ending), qPrintable(pBox->text()));
        // A later failure reuses what the first one learnt, at once, in the same box.
        kit->onInstallationOrUpdateFinished(
            *failedRun(kit.package(1), EPackageDownloaderError::DownloadFailed));
        QCOMPARE(kit->messageBox(), pBox);
        QVERIFY(pBox->text().startsWith(u"The installation of Preview failed."_qs));
        QVERIFY(closeBeforeTrace || pBox->text().endsWith(ending));
        QVERIFY(tracePath.isEmpty() || m_Nginx.waitForRequestCount(u'/' + tracePath, 1));
        QCOMPARE(m_Nginx.requestCount(u'/' + tracePath), tracePath.isEmpty() ? 0 : 1);
    }

    void savingAndVerificationFailuresWait() {
        for (const auto reason :
             {EPackageDownloaderError::SavingFailed, EPackageDownloaderError::VerificationFailed}) {
            TWindowKit kit("Vantor");
            const auto pSeen = closeNextModalBox();
            kit->onInstallationOrUpdateFinished(*failedRun(kit.package(0), reason));
            QCOMPARE(pSeen->value(0), u"Installation failed"_qs);
            QVERIFY(pSeen->value(1).endsWith(reason == EPackageDownloaderError::SavingFailed
                                                 ? u"then try again."_qs
                                                 : u"Verification of game data failed!"_qs));
            QVERIFY(kit->messageBox() == nullptr);
        }
    }

    void installationManagerRunsReachTheRow() {
        TWindowKit kit("A B");
        kit.m_pManager = std::make_unique<TInstallationManager>(kit.m_pConfiguration, m_pFileSystem);
        kit.m_pManager->setFunnelEventSink([](const QString&, const QString&) {});
        kit.m_pManager->setDefaultPackage(kit.package(1));
        QCOMPARE(kit.defaults(), u"-x1"_qs);
        // A package without files installs at once: the row is busy, then shows the installed state the
        // manager stored; the other row stays as it was.
        bool finished = false;
        connect(kit.m_pManager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                [&finished] { finished = true; });
        kit.m_pManager->installOrUpdatePackage(kit.package(1));
        QVERIFY(kit->row(1)->progressBar()->isVisible() && !kit->row(1)->button()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
        QVERIFY(!kit->row(1)->progressBar()->isVisible() && kit->row(1)->button()->isVisible());
        QVERIFY(kit->row(1)->button()->styleSheet().contains(u"Button_Green_idle.png"_qs));
        QVERIFY(kit->row(0)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));
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
