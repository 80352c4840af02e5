#include "shared/randomhints/randomhints.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QRegularExpression>
#include <QTest>

using shared::THint;
using testsupport::operator""_qs;

class TestRandomHints : public QObject {
    Q_OBJECT

private slots:
    void parsesEveryMember() {
        const std::vector<THint> hints = shared::parseHints(
            R"([{"title": "Guild wars", "richText": "Join <b>now</b>", "imageUrl": "img/a.png",)"
            R"("category": "cat2", "url": "guilds.html", "displayAfter": "2024-03-01T10:00:00Z"}])");
        QCOMPARE(hints.size(), size_t(1));
        const THint& hint = hints[0];
        QCOMPARE((QStringList{hint.m_Title, hint.m_RichText, hint.m_ImageUrl, hint.m_Category, hint.m_Url,
                              hint.m_DisplayAfter.toUTC().toString(Qt::ISODate)}),
                 (QStringList{u"Guild wars"_qs, u"<style>a { color: #c0c0c0; }</style>Join <b>now</b>"_qs,
                              u"img/a.png"_qs, u"cat2"_qs, u"guilds.html"_qs, u"2024-03-01T10:00:00Z"_qs}));
    }

    // The hint shown at a moment, from a hints document as the server sends it.
    void selection_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expected");
        const QString noon = u"2024-06-01T12:00:00Z"_qs;
        // clang-format off
        QTest::newRow("the first emergency wins, dates or not") << QByteArray(R"([{"title": "dated", "richText": "x", "displayAfter": "2024-05-01T00:00:00Z"},
            {"title": "expired", "richText": "x", "emergency": true, "displayUntil": "2020-01-01T00:00:00Z"}, {"title": "second", "richText": "x", "emergency": true}])") << noon << "expired";
        QTest::newRow("emergency false is never shown") << QByteArray(R"([{"title": "calm", "richText": "x", "emergency": false}])") << noon << "<none>";
        QTest::newRow("any emergency key takes a hint out") << QByteArray(R"([{"title": "odd", "richText": "x", "emergency": "yes"}, {"title": "plain", "richText": "x"}])") << noon << "plain";
        QTest::newRow("window starts now") << QByteArray(R"([{"title": "future", "richText": "x", "displayAfter": "2024-06-01T12:00:00.001Z"},
            {"title": "past", "richText": "x", "displayUntil": "2024-06-01T11:59:59.999Z"}, {"title": "starts", "richText": "x", "displayAfter": "2024-06-01T12:00:00Z"}])") << noon << "starts";
        QTest::newRow("window ends now") << QByteArray(R"([{"title": "ends", "richText": "x", "displayUntil": "2024-06-01T12:00:00Z"}])") << noon << "ends";
        QTest::newRow("another time zone, same instant") << QByteArray(R"([{"title": "berlin", "richText": "x", "displayAfter": "2024-06-01T14:00:00+02:00"}])") << noon << "berlin";
        QTest::newRow("another time zone, a second later") << QByteArray(R"([{"title": "berlin", "richText": "x", "displayAfter": "2024-06-01T14:00:01+02:00"}])") << noon << "<none>";
        QTest::newRow("the first dated hint wins") << QByteArray(R"([{"title": "undated", "richText": "x"}, {"title": "until", "richText": "x", "displayUntil": "2024-12-31T00:00:00Z"},
            {"title": "after", "richText": "x", "displayAfter": "2024-01-01T00:00:00Z"}])") << noon << "until";
        // Undated hints take turns by the millisecond; hints out of the rotation do not count.
        const QByteArray three = R"([{"title": "calm", "richText": "x", "emergency": false}, {"title": "a", "richText": "x"}, {"title": "b", "richText": "x"}, {"title": "c", "richText": "x"}])";
        QTest::newRow("turn 999") << three << "1970-01-01T00:00:00.999Z" << "a";
        QTest::newRow("turn 1000") << three << "1970-01-01T00:00:01Z" << "b";
        QTest::newRow("turn 1001") << three << "1970-01-01T00:00:01.001Z" << "c";
        QTest::newRow("hints without text are dropped") << QByteArray(R"([{"title": "empty", "richText": ""}, {"title": "missing"}, "not an object",
            {"title": "blank", "richText": " "}])") << "1970-01-01T00:00:01Z" << "blank";
        QTest::newRow("not an array") << QByteArray(R"({"title": "x", "richText": "x"})") << noon << "<none>";
        QTest::newRow("broken document") << QByteArray("[{\"richText\": \"x\"") << noon << "<none>";
        // clang-format on
    }

    void selection() {
        QFETCH(QByteArray, document);
        QFETCH(QString, now);
        if (QByteArray(QTest::currentDataTag()) == "broken document")
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(u"^Could not parse hints file at offset \\d+"_qs));
        const std::optional<THint> hint =
            shared::selectCurrentHint(shared::parseHints(document), QDateTime::fromString(now, Qt::ISODate));
        QTEST(hint ? hint->m_Title : u"<none>"_qs, "expected");
    }
};

LAUNCHER_TEST(TestRandomHints)
#include "tst_randomhints.moc"
