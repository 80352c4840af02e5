#include "launcher/ui/launchermainwindow.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
#include "support/isolateduserdirectories.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testpaths.h"
#include "support/windowpackages.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

using namespace mirrel::launcher;
using testsupport::operator""_qs;
using TPackagePointer = std::shared_ptr<TPackage>;

// The launcher's application object sends funnel events; this one records them.
class TFunnelRecordingApplication : public QApplication {
    Q_OBJECT

public:
    using QApplication::QApplication;
    QStringList m_FunnelEvents;

public slots:
    void sendFunnelEvent(QString Step, QString FirstTimeKey) { m_FunnelEvents << Step + u'/' + FirstTimeKey; }
};

namespace {

const QString TraceText = u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs;

// Everything a window needs, as the application controller would hand it over.
struct TWindowKit {
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::shared_ptr<shared::TDownloadPool> m_pPool = testsupport::makeDownloadPool();
    std::shared_ptr<TCloudflareCdnTrace> m_pTrace;
    std::unique_ptr<TInstallationManager> m_pManager;
    std::unique_ptr<TLauncherMainWindow> m_pWindow;

    // Names: the packages' names, separated by blanks.
    explicit TWindowKit(const char* Names, const QUrl& TraceUrl = QUrl())
        : m_pConfiguration(testsupport::makeWindowConfiguration(
              QString::fromLatin1(Names).split(u' ', Qt::SkipEmptyParts)))
        , m_pTrace(std::make_shared<TCloudflareCdnTrace>(TraceUrl, m_pPool)) {}

    TLauncherMainWindow& window() {
        if (!m_pWindow) {
            m_pWindow = std::make_unique<TLauncherMainWindow>(
                m_pConfiguration->availablePackages(), m_pManager.get(), m_pConfiguration->showPackageNames(),
                m_pPool, m_pTrace, m_pConfiguration);
            m_pWindow->show();
        }
        return *m_pWindow;
    }
    TPackagePointer package(int Index) const { return m_pConfiguration->packages().at(Index); }
};

void setStatus(TPackage& Package, int Status) {
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

// Closes the next modal message box as soon as it is open; returns its title and text.
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

// A finished run of the package that ended for the given reason.
std::unique_ptr<TPackageInstallation> failedRun(const TPackagePointer& pPackage,
                                                const std::shared_ptr<TLauncherFilesystemHelper>& pFileSystem,
                                                EPackageDownloaderError Reason) {
    auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, pFileSystem);
    emit pInstallation->packageFileDownloader()->downloadFailed(Reason);
    return pInstallation;
}

shared::THint tileHint(const QString& Category, const QUrl& Image) {
    shared::THint hint;
    hint.m_RichText = Category;
    hint.m_Category = Category;
    hint.m_ImageUrl = Image.toString();
    hint.m_Url = u"https://www.quorvane.com/"_qs;
    return hint;
}

// The columns of a window row where the mask of Left ends and that of Right begins.
std::pair<int, int> seamAt(QWidget* pLeft, QWidget* pRight, int Row) {
    const QPoint leftOrigin = pLeft->mapTo(pLeft->window(), QPoint());
    const QPoint rightOrigin = pRight->mapTo(pRight->window(), QPoint());
    int lastLeft = -1;
    int firstRight = -1;
    for (int x = leftOrigin.x(); x < rightOrigin.x() + pRight->width(); ++x) {
        if (pLeft->mask().contains(QPoint(x, leftOrigin.y() + Row) - leftOrigin)) {
            lastLeft = x;
        }
        if (firstRight < 0 && pRight->mask().contains(QPoint(x, leftOrigin.y() + Row) - rightOrigin)) {
            firstRight = x;
        }
    }
    return {lastLeft, firstRight};
}

} // namespace

class TestLauncherMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qRegisterMetaType<TPackagePointer>("std::shared_ptr<TPackage>");
        m_Nginx.writeFile(u"cdn-cgi/trace"_qs, "fl=123f45\nip=192.0.2.1\nts=1700000000.123\ncolo=FRA\n");
        m_Nginx.writeFile(u"img/tile.png"_qs, testsupport::pngOfSize(300, 90));
        m_Nginx.addFixedStatus(u"/broken/trace"_qs, 502);
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        m_pFileSystem = std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
    }

    void windowFrameFooterAndFunnelStep() {
        application()->m_FunnelEvents.clear();
        TWindowKit kit("Vantor");
        TLauncherMainWindow& window = kit.window();
        QCOMPARE(window.windowTitle(), u"Vantor Online"_qs);
        QVERIFY(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.minimumSize(), QSize(800, 450));
        QCOMPARE(window.maximumSize(), QSize(800, 600));
        QCOMPARE(application()->m_FunnelEvents, QStringList{u"launcher_started/FunnelStartedFirst"_qs});

        // The footer: every link once; "About" opens a box of the launcher's, not a web page.
        QStringList texts;
        for (QLabel* pLabel : window.findChildren<QLabel*>()) {
            texts << pLabel->text();
            QCOMPARE(pLabel->openExternalLinks(), pLabel->text().contains(u"https://"_qs));
        }
        for (const QString& part : {u"icircle.png"_qs, u"Twitter.png"_qs, u"Discord.png"_qs,
                                    u"QuorvaneLogo.png"_qs, u"v"_qs + LauncherVersion}) {
            QCOMPARE(texts.filter(part).size(), 1);
        }
    }

    void fivePackagesFillTwoGridRows() {
        TWindowKit kit("A B C D E");
        TLauncherMainWindow& window = kit.window();
        auto* pGrid = window.centralWidget()->findChild<QGridLayout*>();
        QCOMPARE(pGrid->count(), 5);
        for (int index = 0; index < 5; ++index) {
            QCOMPARE(window.row(index)->package(), kit.package(index));
            int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
            pGrid->getItemPosition(pGrid->indexOf(window.row(index)), &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(QRect(column, row, columnSpan, rowSpan), QRect(index % 4, index / 4, 1, 1));
        }
        QVERIFY(window.row(5) == nullptr);
    }

    void rowClicksBecomeWindowSignals() {
        TWindowKit kit("A B");
        TLauncherMainWindow& window = kit.window();
        QSignalSpy clicked(&window, &TLauncherMainWindow::clientPackageButtonClicked);
        QSignalSpy verify(&window, &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        QTest::mouseClick(window.row(1)->button(), Qt::LeftButton);
        setStatus(*kit.package(0), 4);
        window.row(0)->button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(verify.count(), 1);
        QCOMPARE(verify.at(0).at(0).value<TPackagePointer>(), kit.package(0));
    }

    void onlyOneDefaultClient() {
        TWindowKit kit("A B C");
        for (int index = 0; index < 3; ++index) {
            setStatus(*kit.package(index), 4);
        }
        kit.package(0)->setDefaultPackage(true);
        TLauncherMainWindow& window = kit.window();
        const auto checked = [&window] {
            QString marks;
            for (int index = 0; index < 3; ++index) {
                marks += window.row(index)->defaultClientCheckBox()->isChecked() ? u'x' : u'-';
            }
            return marks;
        };
        QCOMPARE(window.defaultPackageIndex(), 0);
        QCOMPARE(checked(), u"x--"_qs);
        QSignalSpy changes(&window, &TLauncherMainWindow::defaultChanged);

        window.row(1)->defaultClientCheckBox()->click();
        QCOMPARE(checked(), u"-x-"_qs);
        QCOMPARE(window.defaultPackageIndex(), 1);
        window.row(1)->defaultClientCheckBox()->click();
        QCOMPARE(checked(), u"---"_qs);
        QCOMPARE(window.defaultPackageIndex(), -1);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(changes.at(0).at(1).toBool(), true);
        QCOMPARE(changes.at(1).at(1).toBool(), false);

        // Unchecking a package that is not the default changes nothing; the controller's own
        // decision moves the mark without a signal back.
        window.onDefaultClientPackageCheckboxChanged(kit.package(2), false);
        window.setDefault(kit.package(2), true);
        QCOMPARE(checked(), u"--x"_qs);
        QCOMPARE(window.defaultPackageIndex(), 2);
        QCOMPARE(changes.count(), 2);
    }

    void noPackagesMeansConnectionProblem() {
        TWindowKit kit("");
        QMessageBox* pBox = kit.window().messageBox();
        QVERIFY(pBox != nullptr && pBox->isVisible() && !pBox->isModal());
        QCOMPARE(pBox->windowTitle(), u"Connection problem"_qs);
        QVERIFY(pBox->text().startsWith(u"Could not connect to the update service."_qs));
        pBox->close();
    }

    void hintRowReplacesPlaceholderOnlyWhenComplete() {
        TWindowKit kit("A");
        TLauncherMainWindow& window = kit.window();
        const QUrl image = m_Nginx.url(u"img/tile.png"_qs);
        QVERIFY(window.hasHintPlaceholder());
        window.setHints({tileHint(u"cat1"_qs, image), tileHint(u"cat3"_qs, image)});
        QVERIFY(window.hasHintPlaceholder());
        window.setHints(
            {tileHint(u"cat1"_qs, image), tileHint(u"cat2"_qs, image), tileHint(u"cat3"_qs, image)});
        QVERIFY(!window.hasHintPlaceholder());
        // A later document without a full row gives the room back.
        window.setHints({tileHint(u"cat2"_qs, image)});
        QVERIFY(window.hasHintPlaceholder());
    }

    void hintTilesInterlockInsideTheBox() {
        TWindowKit kit("A B C D E");
        TLauncherMainWindow& window = kit.window();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QUrl image = m_Nginx.url(u"img/tile.png"_qs);
        window.setHints(
            {tileHint(u"cat1"_qs, image), tileHint(u"cat2"_qs, image), tileHint(u"cat3"_qs, image)});
        QApplication::processEvents();
        THintPanel* pPanel = window.hintPanel();
        QWidget* pTiles[] = {pPanel->tile(THintPanel::ETilePosition::Left),
                             pPanel->tile(THintPanel::ETilePosition::Middle),
                             pPanel->tile(THintPanel::ETilePosition::Right)};
        // Along the slants neighbouring tiles neither overlap nor leave a gap (a pixel either way).
        for (int row : {1, 20, 42, 63, 82}) {
            for (int left : {0, 1}) {
                const auto [lastLeft, firstRight] = seamAt(pTiles[left], pTiles[left + 1], row);
                QVERIFY2(qAbs(firstRight - lastLeft - 1) <= 2,
                         qPrintable(u"row %1: %2 to %3"_qs.arg(row).arg(lastLeft).arg(firstRight)));
            }
        }
        for (QWidget* pTile : pTiles) {
            const QRect tile(pTile->mapTo(pPanel->hintBox(), QPoint()), pTile->size());
            QVERIFY(pPanel->hintBox()->rect().contains(tile.adjusted(2, 0, -2, 0)));
        }
    }

    void downloadFailureDiagnostics_data() {
        QTest::addColumn<QString>("tracePath");
        QTest::addColumn<bool>("closeBeforeTrace");
        QTest::addColumn<QString>("ending");
        QTest::newRow("trace arrives") << u"cdn-cgi/trace"_qs << false << TraceText;
        QTest::newRow("box closed meanwhile stays closed")
            << u"cdn-cgi/trace"_qs << true << u"Loading, please wait..."_qs;
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
        TLauncherMainWindow& window = kit.window();
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);
        const auto pRun = failedRun(kit.package(0), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pRun);
        QMessageBox* pBox = window.messageBox();
        QVERIFY(pBox->isVisible());
        QCOMPARE(pBox->windowTitle(), u"Download failed"_qs);
        QVERIFY(pBox->text().startsWith(u"The installation of Vantor failed.\n\nNot all files necessary"_qs));
        if (!tracePath.isEmpty()) {
            QVERIFY(pBox->text().endsWith(u"Diagnostic information: Loading, please wait..."_qs));
            if (closeBeforeTrace) {
                pBox->close();
            }
            QVERIFY(traced.wait());
            QApplication::processEvents();
        }
        QCOMPARE(window.messageBox(), pBox);
        QCOMPARE(pBox->isVisible(), !closeBeforeTrace);
        QVERIFY2(pBox->text().endsWith(u"Diagnostic information: "_qs + ending), qPrintable(pBox->text()));

        // A later failure reuses what the first one learnt, at once.
        const auto pSecond =
            failedRun(kit.package(1), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pSecond);
        QVERIFY(pBox->text().startsWith(u"The installation of Preview failed."_qs));
        if (!closeBeforeTrace) {
            QVERIFY(pBox->text().endsWith(ending));
        }
        QCOMPARE(m_Nginx.requestCount(u'/' + tracePath), tracePath.isEmpty() ? 0 : 1);
        pBox->close();
    }

    void savingAndVerificationFailuresWait_data() {
        QTest::addColumn<EPackageDownloaderError>("reason");
        QTest::addColumn<QString>("text");
        QTest::newRow("saving")
            << EPackageDownloaderError::SavingFailed
            << u"The installation of Vantor failed.\n\nMake sure you have enough free "
               "disk space and the application isn't currently running, then try again."_qs;
        QTest::newRow("verification") << EPackageDownloaderError::VerificationFailed
                                      << u"The installation of Vantor failed.\n\nVerification of game data "
                                         "failed!"_qs;
    }

    void savingAndVerificationFailuresWait() {
        QFETCH(EPackageDownloaderError, reason);
        QFETCH(QString, text);
        TWindowKit kit("Vantor");
        const auto pSeen = closeNextModalBox();
        kit.window().onInstallationOrUpdateFinished(*failedRun(kit.package(0), m_pFileSystem, reason));
        QCOMPARE(*pSeen, (QStringList{u"Installation failed"_qs, text}));
        // Neither uses the shared non-modal box.
        QVERIFY(kit.window().messageBox() == nullptr);
    }

    void installationManagerRunsReachTheRow() {
        TWindowKit kit("A B");
        kit.m_pManager = std::make_unique<TInstallationManager>(kit.m_pConfiguration, m_pFileSystem);
        kit.m_pManager->setFunnelEventSink([](const QString&, const QString&) {});
        kit.m_pManager->setDefaultPackage(kit.package(1));
        TLauncherMainWindow& window = kit.window();
        QCOMPARE(window.defaultPackageIndex(), 1);
        QVERIFY(window.row(1)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));

        // A package without files installs at once: the row is busy, then shows
        // the installed state the manager stored; the other row stays as it was.
        bool finished = false;
        connect(kit.m_pManager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                [&finished] { finished = true; });
        kit.m_pManager->installOrUpdatePackage(kit.package(1));
        QVERIFY(window.row(1)->progressBar()->isVisible() && !window.row(1)->button()->isVisible());
        QVERIFY(window.row(0)->button()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
        QVERIFY(!window.row(1)->progressBar()->isVisible() && window.row(1)->button()->isVisible());
        QCOMPARE(kit.package(1)->localStatus(), 4);
        QVERIFY(window.row(1)->button()->styleSheet().contains(u"Button_Green_idle.png"_qs));
        QCOMPARE(window.row(1)->versionLabel()->text(), u"1.1"_qs);
        QVERIFY(window.row(0)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));
        QVERIFY(window.messageBox() == nullptr);
    }

    void aboutBoxNamesTheLicence() {
        TWindowKit kit("A");
        auto pSeen = closeNextModalBox();
        kit.window().onAboutDialogRequested(u"about"_qs);
        QCOMPARE(*pSeen, (QStringList{u"launcher.about.title"_qs, u"launcher.about.text"_qs}));

        QTranslator translator;
        QVERIFY(translator.load(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QApplication::installTranslator(&translator);
        pSeen = closeNextModalBox();
        kit.window().onAboutDialogRequested(QString());
        QApplication::removeTranslator(&translator);
        QCOMPARE(pSeen->value(0), u"About Vantor Online Launcher"_qs);
        const QString text = pSeen->value(1);
        QVERIFY(text.contains(u"GNU Lesser General Public License version 3"_qs));
        QVERIFY(text.contains(u"<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">"
                              "https://www.gnu.org/licenses/lgpl-3.0.html</a>"_qs));
        QVERIFY(text.contains(u"<a href=\"https://code.qt.io/cgit/qt/qtbase.git/\">"_qs));
        QVERIFY(text.contains(QString::number(QDate::currentDate().year())));
        QVERIFY(!text.contains(u'%'));
        QVERIFY(kit.window().findChildren<QMessageBox*>().isEmpty());
    }

private:
    TFunnelRecordingApplication* application() const {
        return static_cast<TFunnelRecordingApplication*>(qApp);
    }

    testsupport::TNginxFixture m_Nginx;
    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    TFunnelRecordingApplication application(argc, argv);
    TestLauncherMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launchermainwindow.moc"
