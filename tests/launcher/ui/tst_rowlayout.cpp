#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/launchermainwindow.h"
#include "launcher/ui/qcontextpushbutton.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTest>

#include <algorithm>
#include <iterator>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

enum class ERowState { Install, Update, Play, Downloading, Verifying, Failed, Unavailable };

// The first name and the second version are longer than any row can show.
const QStringList Names = {u"Vantor Online Public Test Realm"_qs, u"Vantor Online"_qs, u"Vantor Classic"_qs,
                           u"Vantor Beta"_qs, u"Vantor Preview"_qs};
const QStringList Versions = {u"1.8.2"_qs, u"2.14.0-rc.3+build.20240611.1729"_qs, u"1.2.0"_qs, u"2.0.0"_qs,
                              u"1.9.0"_qs};

// A row's widgets: the logo, the frame, and everything the frame holds.
QList<QWidget*> rowWidgets(const TClientPackageLayoutItem& Row) {
    QWidget* pFrame = Row.versionLabel()->parentWidget();
    QList<QWidget*> widgets{Row.logoLabel(), pFrame};
    widgets += pFrame->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    return widgets;
}

QRect inWindow(const QWidget* pWidget) {
    return QRect(pWidget->mapTo(pWidget->window(), QPoint(0, 0)), pWidget->size());
}

QString describe(const QWidget* pWidget) {
    const auto* pLabel = qobject_cast<const QLabel*>(pWidget);
    const QString text = pLabel != nullptr ? pLabel->text() : QString();
    const QRect at = inWindow(pWidget);
    return u"%1 \"%2\" at %3,%4 %5x%6"_qs.arg(QLatin1String(pWidget->metaObject()->className()), text)
        .arg(at.x())
        .arg(at.y())
        .arg(at.width())
        .arg(at.height());
}

// Text shown whole fits its room; text cut with "…" did not fit and is whole in the tooltip.
QString fittingProblem(const QFontMetrics& Metrics, const QString& Shown, const QString& ToolTip, int Room) {
    const QString whole = ToolTip.isEmpty() ? Shown : ToolTip;
    if (Metrics.horizontalAdvance(Shown) > Room) {
        return u"\"%1\" is wider than its %2 pixels"_qs.arg(Shown).arg(Room);
    }
    if (Shown != whole && (!Shown.endsWith(u'…') || Metrics.horizontalAdvance(whole) <= Room)) {
        return u"\"%1\" is cut although \"%2\" fits its %3 pixels"_qs.arg(Shown, whole).arg(Room);
    }
    return QString();
}

QString fittingProblem(const QWidget* pWidget) {
    const auto* pLabel = qobject_cast<const QLabel*>(pWidget);
    if (pLabel != nullptr && !pLabel->text().isEmpty() &&
        (pLabel->textFormat() == Qt::PlainText ||
         (pLabel->textFormat() == Qt::AutoText && !Qt::mightBeRichText(pLabel->text())))) {
        return fittingProblem(pLabel->fontMetrics(), pLabel->text(), pLabel->toolTip(),
                              pLabel->contentsRect().width());
    }
    if (const auto* pBar = qobject_cast<const QProgressBar*>(pWidget)) {
        // The bar's ornament takes two pixels on each side.
        return fittingProblem(pBar->fontMetrics(), pBar->format(), pBar->toolTip(), pBar->width() - 4);
    }
    // Pictures, links and the check box: whole or not at all.
    const QSize needed = pWidget->sizeHint();
    if (needed.width() > pWidget->width() || needed.height() > pWidget->height()) {
        return u"it needs %1x%2"_qs.arg(needed.width()).arg(needed.height());
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(ERowState)

// Every row state at the smallest window: no overlap, nothing sticks out, every text fits or is cut.
class TestRowLayout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_LauncherDirectory.isValid());
        m_pFileSystem = std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
    }

    void rowWidgetsKeepApart_data() {
        QTest::addColumn<ERowState>("state");
        QTest::addColumn<int>("count");
        const char* const names[] = {"install",   "update", "play",       "downloading",
                                     "verifying", "failed", "unavailable"};
        for (int state = 0; state < 7; ++state) {
            for (int count : {1, 3, 5}) {
                QTest::addRow("%s, %d packages", names[state], count) << ERowState(state) << count;
            }
        }
    }

    void rowWidgetsKeepApart() {
        QFETCH(ERowState, state);
        QFETCH(int, count);
        std::vector<std::shared_ptr<TPackage>> packages;
        for (int index = 0; index < count; ++index) {
            packages.push_back(testsupport::makeWindowPackage(index, Names[index],
                                                              testsupport::packageDocument(Versions[index])));
        }
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        TLauncherMainWindow window(packages, nullptr, true, pPool,
                                   std::make_shared<TCloudflareCdnTrace>(QUrl(), pPool), nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        std::vector<std::unique_ptr<TPackageInstallation>> runs;
        for (const std::shared_ptr<TPackage>& pPackage : packages) {
            bringIntoState(window, pPackage, state, runs);
        }
        if (window.messageBox() != nullptr) {
            window.messageBox()->close();
        }
        // The size the window used to be fixed at: it may not squeeze its content below that.
        window.resize(800, 450);
        QApplication::processEvents();

        // The hint box runs on below the window's lower edge; what it holds does not.
        QGroupBox* pHintBox = window.hintPanel()->hintBox();
        QList<QWidget*> widgets{pHintBox};
        widgets += pHintBox->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (const std::shared_ptr<TPackage>& pPackage : packages) {
            verifyStateShown(*window.row(pPackage->index()), state);
            if (QTest::currentTestFailed()) {
                return;
            }
            widgets += rowWidgets(*window.row(pPackage->index()));
        }
        QList<QWidget*> visible;
        std::copy_if(widgets.begin(), widgets.end(), std::back_inserter(visible),
                     [](const QWidget* pWidget) { return pWidget->isVisible(); });
        for (const QWidget* pWidget : visible) {
            const QRect room = inWindow(pWidget->parentWidget()) & window.rect();
            QVERIFY2(pWidget == pHintBox || room.contains(inWindow(pWidget)),
                     qPrintable(describe(pWidget) + u" sticks out"_qs));
            const QString problem = fittingProblem(pWidget);
            QVERIFY2(problem.isEmpty(), qPrintable(describe(pWidget) + u": "_qs + problem));
            for (const QWidget* pOther : visible) {
                if (pOther == pWidget || pWidget->isAncestorOf(pOther) || pOther->isAncestorOf(pWidget)) {
                    continue;
                }
                QVERIFY2(!inWindow(pWidget).intersects(inWindow(pOther)),
                         qPrintable(describe(pWidget) + u" overlaps "_qs + describe(pOther)));
            }
        }
    }

private:
    void bringIntoState(TLauncherMainWindow& Window, const std::shared_ptr<TPackage>& pPackage,
                        ERowState State, std::vector<std::unique_ptr<TPackageInstallation>>& Runs) {
        const std::int32_t status[] = {1, 3, 4, 2, 2, 2, 0};
        pPackage->setLocalStatus(status[static_cast<int>(State)]);
        emit pPackage->localPackageStatusChanged();
        if (State == ERowState::Play && pPackage->index() == 0) {
            Window.row(0)->defaultClientCheckBox()->setChecked(true);
        }
        if (State != ERowState::Downloading && State != ERowState::Verifying && State != ERowState::Failed) {
            return;
        }
        auto pRun = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
        Window.onInstallationOrUpdateStarted(*pRun);
        if (State == ERowState::Verifying) {
            emit pRun->verificationProgress(1234567890, 9876543210);
        } else {
            // Three seconds of reports at 12.4 MB/s: long enough for the rate to count as steady.
            for (quint64 tick = 0; tick <= 30; ++tick) {
                emit pRun->packageFileDownloader()->progress(tick * 1240000, 2500000000, 0, 4000000000);
            }
        }
        if (State == ERowState::Failed) {
            emit pRun->packageFileDownloader()->downloadFailed(EPackageDownloaderError::DownloadFailed);
            Window.onInstallationOrUpdateFinished(*pRun);
        }
        Runs.push_back(std::move(pRun));
    }

    static void verifyStateShown(const TClientPackageLayoutItem& Row, ERowState State) {
        const bool busy = State == ERowState::Downloading || State == ERowState::Verifying;
        QCOMPARE(Row.progressBar()->isVisible(), busy);
        QCOMPARE(Row.button()->isVisible(), !busy);
        QCOMPARE(Row.defaultClientCheckBox()->isVisible(), State == ERowState::Play);
        QVERIFY(Row.nameLabel()->isVisible());
        if (State == ERowState::Verifying) {
            QTRY_COMPARE(Row.progressBar()->format(), u"Verifying..."_qs);
        } else if (State == ERowState::Downloading) {
            QCOMPARE(Row.progressBar()->format(), u"12.4 MB/s"_qs);
            const QList<QLabel*> timeLeft = Row.versionLabel()->parentWidget()->findChildren<QLabel*>(
                QString(), Qt::FindDirectChildrenOnly);
            QVERIFY(std::any_of(timeLeft.begin(), timeLeft.end(), [](const QLabel* pLabel) {
                return pLabel->isVisible() && pLabel->text() == u"about 3 min left"_qs;
            }));
        }
        // The long name is cut, and whole in its tooltip.
        if (Row.package()->index() == 0) {
            QVERIFY(Row.nameLabel()->text().endsWith(u'…'));
            QCOMPARE(Row.nameLabel()->toolTip(), Names[0]);
        }
    }

    QTemporaryDir m_LauncherDirectory;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

LAUNCHER_TEST(TestRowLayout)

// An offered install or update shows its cost and whether the disk can take it.
class TestRowRunSize : public QObject {
    Q_OBJECT

private slots:
    void offeredRunShowsWhatItCosts_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<qulonglong>("freeBytes");
        QTest::addColumn<QString>("shown"); // empty: the place stays empty
        QTest::newRow("update that fits") << int(TPackage::StatusUpdateAvailable) << 3400000000ULL
                                          << u"1.2 GB to download, 3.4 GB on disk"_qs;
        QTest::newRow("install on a full disk") << int(TPackage::StatusNotInstalled) << 1200000000ULL
                                                << u"Not enough free space: 3.4 GB needed, 1.2 GB free"_qs;
        QTest::newRow("up to date") << int(TPackage::StatusUpToDate) << 0ULL << QString();
    }

    void offeredRunShowsWhatItCosts() {
        QFETCH(int, status);
        QFETCH(qulonglong, freeBytes);
        QFETCH(QString, shown);
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor Online"_qs, testsupport::packageDocument(u"1.0"_qs));
        pPackage->setRunSizeEstimate(TRunSizeEstimate{true, 1200000000, 3400000000, 3400000000, freeBytes});
        pPackage->setLocalStatus(status);
        QWidget host;
        auto* pRow = new TClientPackageLayoutItem(pPackage, true);
        host.setLayout(pRow);
        host.show();
        const QLabel* pLabel = pRow->timeLeftLabel();
        QCOMPARE(pLabel->isVisible(), !shown.isEmpty());
        if (!shown.isEmpty()) {
            QVERIFY2(pLabel->text() == shown || (pLabel->text().endsWith(u'…') && pLabel->toolTip() == shown),
                     qPrintable(pLabel->text()));
            QVERIFY(!pLabel->geometry().intersects(pRow->versionLabel()->geometry()));
        }
    }
};

LAUNCHER_TEST(TestRowRunSize)
#include "tst_rowlayout.moc"
