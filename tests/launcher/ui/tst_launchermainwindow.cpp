#include "launcher/ui/launchermainwindow.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
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

const QByteArray TraceDocument = "fl=123f45\nip=192.0.2.1\nts=1700000000.123\nuag=x\ncolo=FRA\n";
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
        }
        return *m_pWindow;
    }
    std::shared_ptr<TPackage> package(int Index) const { return m_pConfiguration->packages().at(Index); }
};

void setStatus(TPackage& Package, int Status) {
    Package.setLocalStatus(Status);
    emit Package.localPackageStatusChanged();
}

struct TModalBox {
    QString m_Title;
    QString m_Text;
    bool m_Seen = false;
};

// Closes the next modal message box as soon as it is open, keeping what it said.
void closeNextModalBox(TModalBox& Box) {
    auto* pPoll = new QTimer;
    QObject::connect(pPoll, &QTimer::timeout, pPoll, [pPoll, &Box] {
        auto* pMessageBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (pMessageBox == nullptr) {
            return;
        }
        Box.m_Title = pMessageBox->windowTitle();
        Box.m_Text = pMessageBox->text();
        Box.m_Seen = true;
        pMessageBox->done(QMessageBox::Ok);
        pPoll->deleteLater();
    });
    pPoll->start(10);
}

// A finished run of the package whose outcome is a downloader failure.
std::unique_ptr<TPackageInstallation>
failedDownload(const std::shared_ptr<TPackage>& pPackage,
               const std::shared_ptr<TLauncherFilesystemHelper>& pFileSystem,
               EPackageDownloaderError Reason) {
    auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, pFileSystem);
    emit pInstallation->packageFileDownloader()->downloadFailed(Reason);
    return pInstallation;
}

QGridLayout* packageGrid(TLauncherMainWindow& Window) {
    return Window.centralWidget()->findChild<QGridLayout*>();
}

// Pixels of a row where both neighbouring tiles are drawn, and pixels between
// them that neither draws.
struct TSeam {
    int m_Overlap = 0;
    int m_Gap = 0;
};

TSeam seamBetween(QWidget* pLeft, QWidget* pRight, int Row) {
    const QRegion left = pLeft->mask().translated(pLeft->mapTo(pLeft->window(), QPoint()));
    const QRegion right = pRight->mask().translated(pRight->mapTo(pRight->window(), QPoint()));
    const int y = pLeft->mapTo(pLeft->window(), QPoint()).y() + Row;
    int lastLeft = -1;
    int firstRight = INT_MAX;
    TSeam seam;
    const int from = pLeft->mapTo(pLeft->window(), QPoint()).x();
    const int to = pRight->mapTo(pRight->window(), QPoint(pRight->width(), 0)).x();
    for (int x = from; x < to; ++x) {
        const bool inLeft = left.contains(QPoint(x, y));
        const bool inRight = right.contains(QPoint(x, y));
        seam.m_Overlap += inLeft && inRight ? 1 : 0;
        if (inLeft) {
            lastLeft = x;
        }
        if (inRight && firstRight == INT_MAX) {
            firstRight = x;
        }
    }
    seam.m_Gap = std::max(0, firstRight - lastLeft - 1);
    return seam;
}

} // namespace

class TestLauncherMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_Nginx.writeFile(u"cdn-cgi/trace"_qs, TraceDocument);
        m_Nginx.writeFile(u"img/tile.png"_qs, testsupport::pngOfSize(300, 90));
        m_Nginx.addFixedStatus(u"/broken/trace"_qs, 502);
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
        m_pFileSystem = std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
    }

    void windowFrameAndFunnelStep() {
        application()->m_FunnelEvents.clear();
        TWindowKit kit("Vantor");
        TLauncherMainWindow& window = kit.window();
        QCOMPARE(window.windowTitle(), u"Vantor Online"_qs);
        // A title bar with minimise and close buttons, and no maximise button.
        const int flags = static_cast<int>(window.windowFlags());
        QCOMPARE(flags & 0x0A005100, 0x0A005100);
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.minimumWidth(), 800);
        QCOMPARE(window.maximumWidth(), 800);
        QCOMPARE(window.minimumHeight(), 450);
        QCOMPARE(window.maximumHeight(), 600);
        QVERIFY(window.parent() == nullptr);
        QCOMPARE(application()->m_FunnelEvents, QStringList{u"launcher_started/FunnelStartedFirst"_qs});

        const QList<QLabel*> labels = window.findChildren<QLabel*>();
        const auto withText = [&](const QString& Part) {
            return std::count_if(labels.begin(), labels.end(),
                                 [&](QLabel* pLabel) { return pLabel->text().contains(Part); });
        };
        QCOMPARE(withText(u"v0.0.12"_qs), 1);
        QCOMPARE(withText(u"icircle.png"_qs), 1);
        QCOMPARE(withText(u"Twitter.png"_qs), 1);
        QCOMPARE(withText(u"Discord.png"_qs), 1);
        QCOMPARE(withText(u"QuorvaneLogo.png"_qs), 1);
        for (QLabel* pLabel : labels) {
            if (pLabel->text().contains(u"icircle.png"_qs)) {
                QVERIFY(!pLabel->openExternalLinks());
                QCOMPARE(pLabel->toolTip(), u"About"_qs);
            } else if (pLabel->text().contains(u"https://www.quorvane.com/"_qs)) {
                QVERIFY(pLabel->openExternalLinks());
            }
        }
    }

    void fivePackagesFillTwoGridRows() {
        TWindowKit kit("A B C D E");
        TLauncherMainWindow& window = kit.window();
        QGridLayout* pGrid = packageGrid(window);
        QVERIFY(pGrid != nullptr);
        QCOMPARE(pGrid->count(), 5);
        const QList<QPair<int, int>> expected = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}};
        for (int index = 0; index < 5; ++index) {
            TClientPackageLayoutItem* pRow = window.row(index);
            QVERIFY(pRow != nullptr);
            QCOMPARE(pRow->package(), kit.package(index));
            int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
            pGrid->getItemPosition(pGrid->indexOf(pRow), &row, &column, &rowSpan, &columnSpan);
            QCOMPARE(qMakePair(row, column), expected[index]);
            QCOMPARE(qMakePair(rowSpan, columnSpan), qMakePair(1, 1));
        }
        QVERIFY(window.row(5) == nullptr);
    }

    void rowClicksBecomeWindowSignals() {
        TWindowKit kit("A B");
        TLauncherMainWindow& window = kit.window();
        std::vector<std::shared_ptr<TPackage>> clicked;
        std::vector<std::shared_ptr<TPackage>> verify;
        connect(&window, &TLauncherMainWindow::clientPackageButtonClicked, this,
                [&](std::shared_ptr<TPackage> pPackage) { clicked.push_back(pPackage); });
        connect(&window, &TLauncherMainWindow::clientPackageVerifyButtonClicked, this,
                [&](std::shared_ptr<TPackage> pPackage) { verify.push_back(pPackage); });
        window.show();

        QTest::mouseClick(window.row(1)->button(), Qt::LeftButton);
        setStatus(*kit.package(0), 4);
        window.row(0)->button()->contextMenu()->actions().first()->trigger();
        QCOMPARE(clicked, std::vector<std::shared_ptr<TPackage>>{kit.package(1)});
        QCOMPARE(verify, std::vector<std::shared_ptr<TPackage>>{kit.package(0)});
    }

    void onlyOneDefaultClient() {
        TWindowKit kit("A B C");
        for (int index = 0; index < 3; ++index) {
            setStatus(*kit.package(index), 4);
        }
        kit.package(0)->setDefaultPackage(true);
        TLauncherMainWindow& window = kit.window();
        window.show();
        QCOMPARE(window.defaultPackageIndex(), 0);
        QCheckBox* pA = window.row(0)->defaultClientCheckBox();
        QCheckBox* pB = window.row(1)->defaultClientCheckBox();
        QCheckBox* pC = window.row(2)->defaultClientCheckBox();
        QVERIFY(pA->isChecked() && !pB->isChecked() && !pC->isChecked());

        std::vector<std::pair<std::shared_ptr<TPackage>, bool>> changes;
        connect(&window, &TLauncherMainWindow::defaultChanged, this,
                [&](std::shared_ptr<TPackage> pPackage, bool IsDefault) {
                    changes.emplace_back(pPackage, IsDefault);
                });

        QTest::mouseClick(pB, Qt::LeftButton, Qt::NoModifier, QPoint(6, pB->height() / 2));
        QVERIFY(pB->isChecked());
        QVERIFY(!pA->isChecked());
        QCOMPARE(window.defaultPackageIndex(), 1);
        QCOMPARE(changes.size(), size_t(1));
        QCOMPARE(changes[0], std::make_pair(kit.package(1), true));

        QTest::mouseClick(pB, Qt::LeftButton, Qt::NoModifier, QPoint(6, pB->height() / 2));
        QVERIFY(!pB->isChecked());
        QCOMPARE(window.defaultPackageIndex(), -1);
        QCOMPARE(changes.size(), size_t(2));
        QCOMPARE(changes[1], std::make_pair(kit.package(1), false));

        // Unchecking for a package that is not the default changes nothing.
        window.onDefaultClientPackageCheckboxChanged(kit.package(2), false);
        QCOMPARE(changes.size(), size_t(2));

        // The controller's own decision moves the mark without a signal back.
        window.setDefault(kit.package(2), true);
        QVERIFY(pC->isChecked() && !pA->isChecked() && !pB->isChecked());
        QCOMPARE(window.defaultPackageIndex(), 2);
        QCOMPARE(changes.size(), size_t(2));
    }

    void noPackagesMeansConnectionProblem() {
        TWindowKit kit("");
        TLauncherMainWindow& window = kit.window();
        QMessageBox* pBox = window.messageBox();
        QVERIFY(pBox != nullptr);
        QVERIFY(pBox->isVisible());
        QVERIFY(!pBox->isModal());
        QCOMPARE(pBox->windowTitle(), u"Connection problem"_qs);
        QCOMPARE(pBox->text(), u"Could not connect to the update service.\n\nPlease try again later.\n"_qs);
        QCOMPARE(pBox->icon(), QMessageBox::Critical);
        QCOMPARE(packageGrid(window)->count(), 0);
        pBox->close();
    }

    void hintRowReplacesPlaceholderOnlyWhenComplete() {
        TWindowKit kit("A");
        TLauncherMainWindow& window = kit.window();
        window.show();
        QVERIFY(window.hasHintPlaceholder());
        const auto hint = [&](const QString& Category) {
            shared::THint hint;
            hint.m_RichText = u"<b>%1</b>"_qs.arg(Category);
            hint.m_Category = Category;
            hint.m_ImageUrl = m_Nginx.url(u"img/tile.png"_qs).toString();
            hint.m_Url = u"https://www.quorvane.com/"_qs;
            return hint;
        };

        window.setHints({hint(u"cat1"_qs), hint(u"cat3"_qs)});
        QVERIFY(window.hasHintPlaceholder());
        QVERIFY(!window.hintPanel()->sectionsContainer()->isVisible());
        QVERIFY(window.hintPanel()->hintBox()->isVisible());

        window.setHints({hint(u"cat1"_qs), hint(u"cat2"_qs), hint(u"cat3"_qs)});
        QVERIFY(!window.hasHintPlaceholder());
        QVERIFY(window.hintPanel()->sectionsContainer()->isVisible());

        // A later document without a full row gives the room back.
        window.setHints({hint(u"cat2"_qs)});
        QVERIFY(window.hasHintPlaceholder());
        QVERIFY(!window.hintPanel()->sectionsContainer()->isVisible());
    }

    void hintTilesInterlock() {
        TWindowKit kit("A B C D E");
        TLauncherMainWindow& window = kit.window();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        std::vector<shared::THint> hints;
        for (const QString& category : {u"cat1"_qs, u"cat2"_qs, u"cat3"_qs}) {
            shared::THint hint;
            hint.m_RichText = category;
            hint.m_Category = category;
            hint.m_ImageUrl = m_Nginx.url(u"img/tile.png"_qs).toString();
            hints.push_back(hint);
        }
        window.setHints(hints);
        QApplication::processEvents();

        THintPanel* pPanel = window.hintPanel();
        QWidget* pLeft = pPanel->tile(THintPanel::ETilePosition::Left);
        QWidget* pMiddle = pPanel->tile(THintPanel::ETilePosition::Middle);
        QWidget* pRight = pPanel->tile(THintPanel::ETilePosition::Right);
        for (int row : {1, 20, 42, 63, 82}) {
            for (const TSeam& seam : {seamBetween(pLeft, pMiddle, row), seamBetween(pMiddle, pRight, row)}) {
                QVERIFY2(seam.m_Overlap <= 2 && seam.m_Gap <= 2,
                         qPrintable(
                             u"row %1: overlap %2, gap %3"_qs.arg(row).arg(seam.m_Overlap).arg(seam.m_Gap)));
            }
        }
        // The row sits inside the hint box.
        const QRect box = pPanel->hintBox()->rect();
        for (QWidget* pTile : {pLeft, pRight}) {
            const QRect tile(pTile->mapTo(pPanel->hintBox(), QPoint()), pTile->size());
            QVERIFY2(box.contains(tile.adjusted(2, 0, -2, 0)), qPrintable(u"tile outside the box"_qs));
        }
    }

    void downloadFailureShowsDiagnosticsInPlace() {
        TWindowKit kit("Vantor Preview", m_Nginx.url(u"cdn-cgi/trace"_qs));
        TLauncherMainWindow& window = kit.window();
        window.show();
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);

        const auto pRun =
            failedDownload(kit.package(0), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        QCOMPARE(pRun->errorReason(), EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pRun);
        QMessageBox* pBox = window.messageBox();
        QVERIFY(pBox != nullptr);
        QVERIFY(pBox->isVisible());
        QCOMPARE(pBox->windowTitle(), u"Download failed"_qs);
        QCOMPARE(pBox->text(), u"The installation of Vantor failed.\n\nNot all files necessary could be "
                               "downloaded. Please try again later.\n\nDiagnostic information: "
                               "Loading, please wait..."_qs);

        QVERIFY(traced.wait());
        QCOMPARE(window.messageBox(), pBox);
        QVERIFY(pBox->isVisible());
        QCOMPARE(pBox->text(), u"The installation of Vantor failed.\n\nNot all files necessary could be "
                               "downloaded. Please try again later.\n\nDiagnostic information: "_qs +
                                   TraceText);

        // Later failures reuse the trace at once.
        const auto pSecond =
            failedDownload(kit.package(1), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pSecond);
        QVERIFY(pBox->text().startsWith(u"The installation of Preview failed."_qs));
        QVERIFY(pBox->text().endsWith(TraceText));
        QCOMPARE(m_Nginx.requestCount(u"/cdn-cgi/trace"_qs), 1);
        pBox->close();
    }

    void closedDownloadBoxStaysClosed() {
        m_Nginx.clearAccessLog();
        TWindowKit kit("Vantor", m_Nginx.url(u"cdn-cgi/trace"_qs));
        TLauncherMainWindow& window = kit.window();
        window.show();
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);
        const auto pRun =
            failedDownload(kit.package(0), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pRun);
        QVERIFY(window.messageBox()->isVisible());
        window.messageBox()->close();

        QVERIFY(traced.wait());
        QApplication::processEvents();
        QVERIFY(!window.messageBox()->isVisible());
        QVERIFY(window.messageBox()->text().endsWith(u"Loading, please wait..."_qs));
    }

    void diagnosticsWithoutTrace_data() {
        QTest::addColumn<QString>("tracePath");
        QTest::newRow("no trace address") << QString();
        QTest::newRow("trace answered 502") << u"broken/trace"_qs;
    }

    void diagnosticsWithoutTrace() {
        QFETCH(QString, tracePath);
        TWindowKit kit("Vantor", tracePath.isEmpty() ? QUrl() : m_Nginx.url(tracePath));
        TLauncherMainWindow& window = kit.window();
        window.show();
        QSignalSpy traced(kit.m_pTrace.get(), &TCloudflareCdnTrace::diagnosticsTraceReceived);
        const auto pRun =
            failedDownload(kit.package(0), m_pFileSystem, EPackageDownloaderError::DownloadFailed);
        window.onInstallationOrUpdateFinished(*pRun);
        if (!tracePath.isEmpty()) {
            QVERIFY(window.messageBox()->text().endsWith(u"Loading, please wait..."_qs));
            QVERIFY(traced.wait());
        }
        QVERIFY(window.messageBox()->isVisible());
        QVERIFY(window.messageBox()->text().endsWith(
            u"Diagnostic information: Failed to obtain information."_qs));
        window.messageBox()->close();
    }

    void savingAndVerificationFailuresWait() {
        TWindowKit kit("Vantor");
        TLauncherMainWindow& window = kit.window();
        window.show();

        TModalBox saving;
        closeNextModalBox(saving);
        const auto pSaving =
            failedDownload(kit.package(0), m_pFileSystem, EPackageDownloaderError::SavingFailed);
        window.onInstallationOrUpdateFinished(*pSaving);
        QVERIFY(saving.m_Seen);
        QCOMPARE(saving.m_Title, u"Installation failed"_qs);
        QCOMPARE(saving.m_Text, u"The installation of Vantor failed.\n\nMake sure you have enough free disk "
                                "space and the application isn't currently running, then try again."_qs);

        // A verification that finds a file missing ends with reason 3.
        QTemporaryDir installation;
        TPackageInstallation verification(kit.package(0), m_pFileSystem);
        verification.setInstallationDirectory(QDir(installation.path()));
        const QByteArray document = R"({"version": "1", "files": [{"localfile": "data/missing.bin",
        "unpackedsize": 3, "unpackedhash": "39e9ad7dbf4c3a1e2f7e1e3ab0c6e4d2f6bd0c54e9d37c1a2f3e2b0c1d2e3f40"}]})";
        const TPackageConfigurationReader configuration(document, QByteArray(), QUrl(), QUrl());
        verification.startVerification(configuration, true);
        QTRY_COMPARE(verification.errorReason(), EPackageDownloaderError::VerificationFailed);

        TModalBox failed;
        closeNextModalBox(failed);
        window.onInstallationOrUpdateFinished(verification);
        QVERIFY(failed.m_Seen);
        QCOMPARE(failed.m_Title, u"Installation failed"_qs);
        QCOMPARE(failed.m_Text,
                 u"The installation of Vantor failed.\n\nVerification of game data failed!"_qs);
        // Neither shares the non-modal box.
        QVERIFY(window.messageBox() == nullptr);
    }

    void runProgressReachesTheRightRow() {
        TWindowKit kit("A B");
        setStatus(*kit.package(1), 3);
        TLauncherMainWindow& window = kit.window();
        window.show();
        TPackageInstallation run(kit.package(1), m_pFileSystem);
        window.onInstallationOrUpdateStarted(run);
        QVERIFY(window.row(1)->progressBar()->isVisible());
        QVERIFY(!window.row(1)->button()->isVisible());
        QVERIFY(window.row(0)->button()->isVisible());
        emit run.scanProgress(5, 10);
        QTRY_COMPARE(window.row(1)->progressBar()->value(), 5000);
        QCOMPARE(window.row(0)->progressBar()->value(), 0);

        emit run.packageFileDownloader()->downloadCompleted();
        QCOMPARE(run.errorReason(), EPackageDownloaderError::NoError);
        setStatus(*kit.package(1), 4);
        window.onInstallationOrUpdateFinished(run);
        QVERIFY(!window.row(1)->progressBar()->isVisible());
        QVERIFY(window.row(1)->button()->isVisible());
        QCOMPARE(window.row(1)->progressBar()->value(), 0);
        QCOMPARE(window.row(1)->versionLabel()->text(), u"1.1"_qs);
        QVERIFY(window.messageBox() == nullptr);
    }

    void installationManagerRunsReachTheRow() {
        QTemporaryDir launcherDirectory;
        auto pFileSystem = std::make_shared<TLauncherFilesystemHelper>(launcherDirectory.path());
        TWindowKit kit("A B");
        kit.m_pManager = std::make_unique<TInstallationManager>(kit.m_pConfiguration, pFileSystem);
        kit.m_pManager->setFunnelEventSink([](const QString&, const QString&) {});
        kit.m_pManager->setDefaultPackage(kit.package(1));
        TLauncherMainWindow& window = kit.window();
        window.show();
        QCOMPARE(window.defaultPackageIndex(), 1);
        QCOMPARE(kit.package(1)->localStatus(), 1);
        QVERIFY(window.row(1)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));

        // A package without files installs at once: the row is busy, then shows
        // the installed state the manager stored.
        bool finished = false;
        connect(kit.m_pManager.get(), &TInstallationManager::installationOrUpdateFinished, this,
                [&finished] { finished = true; });
        kit.m_pManager->installOrUpdatePackage(kit.package(1));
        QVERIFY(window.row(1)->progressBar()->isVisible());
        QVERIFY(!window.row(1)->button()->isVisible());
        QTRY_VERIFY(finished);
        QVERIFY(!window.row(1)->progressBar()->isVisible());
        QVERIFY(window.row(1)->button()->isVisible());
        QCOMPARE(kit.package(1)->localStatus(), 4);
        QVERIFY(window.row(1)->button()->styleSheet().contains(u"Button_Green_idle.png"_qs));
        QVERIFY(window.row(1)->defaultClientCheckBox()->isVisible());
        QVERIFY(window.row(0)->button()->styleSheet().contains(u"Button_Blue_idle.png"_qs));
        QVERIFY(window.messageBox() == nullptr);
    }

    void aboutBoxNamesTheLicence() {
        TWindowKit kit("A");
        TLauncherMainWindow& window = kit.window();
        window.show();

        TModalBox untranslated;
        closeNextModalBox(untranslated);
        window.onAboutDialogRequested(u"about"_qs);
        QCOMPARE(untranslated.m_Title, u"launcher.about.title"_qs);
        QCOMPARE(untranslated.m_Text, u"launcher.about.text"_qs);

        QTranslator translator;
        QVERIFY(translator.load(u"launcher.en"_qs, testsupport::launcherBinDir()));
        QApplication::installTranslator(&translator);
        TModalBox about;
        closeNextModalBox(about);
        window.onAboutDialogRequested(QString());
        QApplication::removeTranslator(&translator);

        QCOMPARE(about.m_Title, u"About Vantor Online Launcher"_qs);
        QVERIFY(about.m_Text.contains(u"GNU Lesser General Public License version 3"_qs));
        QVERIFY(about.m_Text.contains(u"<a href=\"https://www.gnu.org/licenses/lgpl-3.0.html\">"
                                      "https://www.gnu.org/licenses/lgpl-3.0.html</a>"_qs));
        QVERIFY(about.m_Text.contains(u"<a href=\"https://code.qt.io/cgit/qt/qtbase.git/\">"_qs));
        QVERIFY(about.m_Text.contains(QString::number(QDate::currentDate().year())));
        QVERIFY(!about.m_Text.contains(u'%'));
        QVERIFY(window.findChildren<QMessageBox*>().isEmpty());
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
    TFunnelRecordingApplication application(argc, argv);
    TestLauncherMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launchermainwindow.moc"
