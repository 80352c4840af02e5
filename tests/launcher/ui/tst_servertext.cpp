#include "launcher/package/package.h"
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/hintpanel.h"
#include "shared/network/downloadpool.h"
#include "shared/randomhints/hint.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <sys/stat.h>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

namespace {

// The peak resident memory of this process, in KiB.
qint64 peakResidentKiB() {
    QFile status(u"/proc/self/status"_qs);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// Markup a label in rich-text mode would act on: pictures from devices and pipes, links, tables.
void addHostileTexts(const QString& Fifo) {
    QTest::addColumn<QString>("text");
    QTest::newRow("picture from a device") << u"<img src=\"/dev/zero\" width=9000 height=9000>"_qs;
    QTest::newRow("picture from a pipe") << u"<img src=\"%1\">"_qs.arg(Fifo);
    QTest::newRow("link") << u"<a href=\"file:///etc/passwd\">Vantor</a>"_qs;
    QTest::newRow("table") << u"<table width=5000><tr><td>Vantor</td></tr></table>"_qs;
    QTest::newRow("100 kB") << QString(100 * 1024, u'W');
    QTest::newRow("control characters") << u"Van\u0007tor\r\n\tOnline\u0000"_qs;
    QTest::newRow("right to left") << u"\u202eenilnO rotnaV \u05d5\u05e0\u05d8\u05d5\u05e8"_qs;
}

} // namespace

// Server texts change the words shown and nothing else: no file read, no markup drawn, same size.
class TestServerText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Work.isValid());
        QCOMPARE(::mkfifo(QFile::encodeName(fifo()).constData(), 0600), 0);
    }

    void packageRowShowsServerTextLiterally_data() { addHostileTexts(fifo()); }

    void packageRowShowsServerTextLiterally() {
        QFETCH(QString, text);
        const qint64 peakBefore = peakResidentKiB();
        auto pPackage = testsupport::makeWindowPackage(0, text, testsupport::packageDocument(text),
                                                       u"file:///etc/passwd"_qs);
        QWidget host;
        auto* pRow = new TClientPackageLayoutItem(pPackage, true);
        host.setLayout(pRow);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.grab();

        for (const QLabel* pLabel : {pRow->nameLabel(), pRow->versionLabel()}) {
            QCOMPARE(pLabel->textFormat(), Qt::PlainText);
            const QString shown = pLabel->text();
            // Whole, or cut with an ellipsis and whole in the tooltip.
            QVERIFY2(shown == text || (shown.endsWith(u'…') && text.startsWith(shown.chopped(1)) &&
                                       !pLabel->toolTip().isEmpty()),
                     qPrintable(shown.left(80)));
            QVERIFY(pLabel->width() <= 176 + 20);
        }
        // A logo link that is no web address is not offered.
        QVERIFY(!pRow->logoLabel()->text().contains(u"file:"_qs));
        QVERIFY(peakResidentKiB() - peakBefore < 64 * 1024);
    }

    void hintTilesShowServerTextLiterally_data() { addHostileTexts(fifo()); }

    void hintTilesShowServerTextLiterally() {
        QFETCH(QString, text);
        const qint64 peakBefore = peakResidentKiB();
        QWidget window;
        window.resize(800, 300);
        auto* pPanel = new THintPanel(&window, testsupport::makeDownloadPool());
        auto* pLayout = new QVBoxLayout(&window);
        pLayout->addWidget(pPanel->hintBox(), 0, Qt::AlignHCenter);
        window.show();
        pPanel->setHints({hint(u"cat1"_qs, text), hint(u"cat2"_qs, text), hint(u"cat3"_qs, text)});
        window.grab();

        int captions = 0;
        for (const ClickableLabel* pLabel : window.findChildren<ClickableLabel*>()) {
            if (pLabel->textFormat() == Qt::PlainText)
                ++captions;
            else
                QVERIFY(pLabel->text().isEmpty());
            QVERIFY(!pLabel->text().contains(u"<img"_qs) && !pLabel->text().contains(u"<table"_qs));
        }
        QVERIFY(captions >= 3);
        QVERIFY(peakResidentKiB() - peakBefore < 64 * 1024);
    }

private:
    QString fifo() const { return m_Work.filePath(u"fifo"_qs); }

    static shared::THint hint(const QString& Category, const QString& Text) {
        shared::THint hint;
        hint.m_Title = u"Hints"_qs;
        hint.m_RichText = Text;
        hint.m_Category = Category;
        hint.m_Url = u"https://www.quorvane.com/hints"_qs;
        return hint;
    }

    QTemporaryDir m_Work;
};

LAUNCHER_TEST(TestServerText)
#include "tst_servertext.moc"
