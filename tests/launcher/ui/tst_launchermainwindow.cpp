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
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/qcontextpushbutton.h"
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
    QString checkMarks() {
        QString marks;
        for (int index = 0; index < int(m_pConfiguration->packages().size()); ++index) {
            marks += (*this)->row(index)->defaultClientCheckBox()->isChecked() ? u'x' : u'-';
        }
        return marks;
    }
};

void setStatus(TPackage& Package, int Status) {
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
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

shared::THint tileHint(const QString& Category, const QUrl& Image) {
    shared::THint hint;
    hint.m_RichText = hint.m_Category = Category;
    hint.m_ImageUrl = Image.toString();
    return hint;
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
    }

    void windowFrameFooterGridAndFunnelStep() {
        TWindowKit kit("A B C D E");
        QVERIFY(kit->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!kit->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(QRect(QPoint(), kit->minimumSize()).united(QRect(QPoint(), kit->maximumSize())),
                 QRect(0, 0, 800, 600));
        // At least 450 high, more when five packages need it.
        QVERIFY(kit->minimumHeight() >= 450);
        QCOMPARE(application()->m_FunnelEvents, QStringList{u"launcher_started/FunnelStartedFirst"_qs});
        // The footer: every link once; "About" opens a box of the launcher's, not a web page.
        QStringList texts;
        for (QLabel* pLabel : kit->findChildren<QLabel*>()) {
            texts << pLabel->text();
            QCOMPARE(pLabel->openExternalLinks(), pLabel->text().contains(u"https://"_qs));
        }
        for (const QString& part : {u"icircle.png"_qs, u"Twitter.png"_qs, u"Discord.png"_qs,
                                    u"QuorvaneLogo.png"_qs, u"v"_qs + LauncherVersion}) {
            QCOMPARE(texts.filter(part).size(), 1);
        }
        // Four packages to a grid row.
        auto* pGrid = kit->centralWidget()->findChild<QGridLayout*>();
        for (int index = 0; index < 5; ++index) {
            int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
            pGrid->getItemPosition(pGrid->indexOf(kit->row(index)), &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(QRect(column, row, columnSpan, rowSpan), QRect(index % 4, index / 4, 1, 1));
            QCOMPARE(kit->row(index)->package(), kit.package(index));
        }
    }

    void rowsReachTheWindowAndOneDefault() {
        TWindowKit kit("A B C");
        for (int index = 0; index < 3; ++index) {
            setStatus(*kit.package(index), 4);
        }
        kit.package(0)->setDefaultPackage(true);
        QSignalSpy clicked(kit.operator->(), &TLauncherMainWindow::clientPackageButtonClicked);
        QSignalSpy verify(kit.operator->(), &TLauncherMainWindow::clientPackageVerifyButtonClicked);
        QSignalSpy changes(kit.operator->(), &TLauncherMainWindow::defaultChanged);
        QTest::mouseClick(kit->row(1)->button(), Qt::LeftButton);
        kit->row(2)->button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(clicked.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(verify.at(0).at(0).value<TPackagePointer>(), kit.package(2));

        QCOMPARE(kit.checkMarks() + QString::number(kit->defaultPackageIndex()), u"x--0"_qs);
        kit->row(1)->defaultClientCheckBox()->click();
        QCOMPARE(kit.checkMarks() + QString::number(kit->defaultPackageIndex()), u"-x-1"_qs);
        kit->row(1)->defaultClientCheckBox()->click();
        QCOMPARE(kit.checkMarks() + QString::number(kit->defaultPackageIndex()), u"----1"_qs);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(0).at(0).value<TPackagePointer>(), kit.package(1));
        QCOMPARE(changes.at(0).at(1).toBool() && !changes.at(1).at(1).toBool(), true);
        // Unchecking a package that is not the default changes nothing; the controller's own
        // decision moves the mark without a signal back.
        kit->onDefaultClientPackageCheckboxChanged(kit.package(2), false);
        kit->setDefault(kit.package(2), true);
        QCOMPARE(kit.checkMarks() + QString::number(kit->defaultPackageIndex()), u"--x2"_qs);
        QCOMPARE(changes.count(), 2);
    }

    void noPackagesMeansConnectionProblem() {
        TWindowKit kit("");
        QMessageBox* pBox = kit->messageBox();
        QVERIFY(pBox->isVisible() && !pBox->isModal());
        QCOMPARE(pBox->windowTitle(), u"Connection problem"_qs);
        pBox->close();
    }

    void hintRowReplacesPlaceholderOnlyWhenComplete() {
        TWindowKit kit("A");
        const QUrl image = m_Nginx.url(u"img/tile.png"_qs);
        kit->setHints({tileHint(u"cat1"_qs, image), tileHint(u"cat3"_qs, image)});
        QVERIFY(kit->hasHintPlaceholder());
        kit->setHints(
            {tileHint(u"cat1"_qs, image), tileHint(u"cat2"_qs, image), tileHint(u"cat3"_qs, image)});
        QVERIFY(!kit->hasHintPlaceholder());
        // A later document without a full row gives the room back.
        kit->setHints({tileHint(u"cat2"_qs, image)});
        QVERIFY(kit->hasHintPlaceholder());
    }

    void downloadFailureDiagnostics_data() {
        QTest::addColumn<QString>("tracePath");
        QTest::addColumn<bool>("closeBeforeTrace");
        QTest::addColumn<QString>("ending");
        const QString unavailable = u"Failed to obtain information."_qs;
        QTest::newRow("trace arrives")
            << u"cdn-cgi/trace"_qs << false << u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs;
        QTest::newRow("closed meanwhile") << u"cdn-cgi/trace"_qs << true << u"Loading, please wait..."_qs;
        QTest::newRow("no trace address") << QString() << false << unavailable;
        QTest::newRow("trace answered 502") << u"broken/trace"_qs << false << unavailable;
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
        QVERIFY(pBox->isVisible());
        QCOMPARE(pBox->windowTitle(), u"Download failed"_qs);
        QVERIFY(pBox->text().startsWith(u"The installation of Vantor failed.\n\nNot all files necessary"_qs));
        if (!tracePath.isEmpty()) {
            QVERIFY(pBox->text().endsWith(u"Diagnostic information: Loading, please wait..."_qs));
            if (closeBeforeTrace) {
                pBox->close();
            }
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
        QCOMPARE(m_Nginx.requestCount(u'/' + tracePath), tracePath.isEmpty() ? 0 : 1);
        pBox->close();
    }

    void savingAndVerificationFailuresWait_data() {
        QTest::addColumn<EPackageDownloaderError>("reason");
        QTest::addColumn<QString>("text");
        QTest::newRow("saving") << EPackageDownloaderError::SavingFailed
                                << u"Make sure you have enough free disk space and the application isn't "
                                   "currently running, then try again."_qs;
        QTest::newRow("verification")
            << EPackageDownloaderError::VerificationFailed << u"Verification of game data failed!"_qs;
    }

    void savingAndVerificationFailuresWait() {
        QFETCH(EPackageDownloaderError, reason);
        QFETCH(QString, text);
        TWindowKit kit("Vantor");
        const auto pSeen = closeNextModalBox();
        kit->onInstallationOrUpdateFinished(*failedRun(kit.package(0), reason));
        QCOMPARE(*pSeen, (QStringList{u"Installation failed"_qs,
                                      u"The installation of Vantor failed.\n\n"_qs + text}));
        QVERIFY(kit->messageBox() == nullptr);
    }

    void installationManagerRunsReachTheRow() {
        TWindowKit kit("A B");
        kit.m_pManager = std::make_unique<TInstallationManager>(kit.m_pConfiguration, m_pFileSystem);
        kit.m_pManager->setFunnelEventSink([](const QString&, const QString&) {});
        kit.m_pManager->setDefaultPackage(kit.package(1));
        QCOMPARE(kit->defaultPackageIndex(), 1);
        // A package without files installs at once: the row is busy, then shows
        // the installed state the manager stored; the other row stays as it was.
        bool finished = false;
        connect(kit.m_pManager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                [&finished] { finished = true; });
        kit.m_pManager->installOrUpdatePackage(kit.package(1));
        QVERIFY(kit->row(1)->progressBar()->isVisible() && !kit->row(1)->button()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);
        QVERIFY(!kit->row(1)->progressBar()->isVisible() && kit->row(1)->button()->isVisible());
        QVERIFY(kit->row(1)->button()->styleSheet().contains(u"Button_Green_idle.png"_qs));
        QVERIFY(kit->row(0)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));
        QVERIFY(kit->messageBox() == nullptr);
    }

    void aboutBoxNamesTheLicence() {
        TWindowKit kit("A");
        QTranslator translator;
        QVERIFY(translator.load(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QApplication::installTranslator(&translator);
        const auto pSeen = closeNextModalBox();
        kit->onAboutDialogRequested(u"about"_qs);
        QApplication::removeTranslator(&translator);
        QCOMPARE(pSeen->value(0), u"About Vantor Online Launcher"_qs);
        QVERIFY(pSeen->value(1).contains(u"<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">"
                                         "https://www.gnu.org/licenses/lgpl-3.0.html</a>"_qs));
        QVERIFY(pSeen->value(1).contains(QString::number(QDate::currentDate().year())));
        QVERIFY(!pSeen->value(1).contains(u'%'));
    }

private:
    TFunnelRecordingApplication* application() const {
        return static_cast<TFunnelRecordingApplication*>(qApp);
    }

    // A finished run of the package that ended for the given reason.
    std::unique_ptr<TPackageInstallation> failedRun(const TPackagePointer& pPackage,
                                                    EPackageDownloaderError Reason) {
        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
        emit pInstallation->packageFileDownloader()->downloadFailed(Reason);
        return pInstallation;
    }

    testsupport::TNginxFixture m_Nginx;
    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem =
        std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
};

int main(int argc, char** argv) {
    const testsupport::TIsolatedUserDirectories userDirectories;
    TFunnelRecordingApplication application(argc, argv);
    TestLauncherMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launchermainwindow.moc"
