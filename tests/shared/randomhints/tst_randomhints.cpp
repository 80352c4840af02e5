#include "shared/randomhints/randomhints.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QRegularExpression>
#include <QTest>

using shared::THint;
using testsupport::operator""_qs;

namespace {

const QString Prefix = u"<style>a { color: #c0c0c0; }</style>"_qs;

THint makeHint(const QString& Title) {
    THint hint;
    hint.m_Title = Title;
    hint.m_RichText = Prefix + Title;
    return hint;
}

QDateTime utc(const QString& Text) {
    return QDateTime::fromString(Text, Qt::ISODate);
}

QString selectedTitle(const std::vector<THint>& Hints, const QDateTime& Now) {
    const std::optional<THint> hint = shared::selectCurrentHint(Hints, Now);
    return hint ? hint->m_Title : u"<none>"_qs;
}

} // namespace

class TestRandomHints : public QObject {
    Q_OBJECT

private slots:
    void parsesEveryMember();
    void dropsHintsWithoutText();
    void unreadableDocumentsGiveNoHints();
    void emergencyHintWinsOverDates();
    void emergencyFalseIsNeverPicked();
    void displayWindowBoundsAreInclusive();
    void firstDatedCandidateWins();
    void undatedCandidatesTakeTurnsByTime();
};

void TestRandomHints::parsesEveryMember() {
    const QByteArray document = R"([{
        "title": "Guild wars",
        "richText": "Join <a href='x'>now</a>",
        "imageUrl": "https://img.example.test/a.png",
        "category": "cat2",
        "url": "https://www.example.test/guilds",
        "displayAfter": "2024-03-01T10:00:00Z",
        "displayUntil": "not a date",
        "emergency": "yes"
    }, {
        "richText": "bare"
    }])";
    const std::vector<THint> hints = shared::parseHints(document);
    QCOMPARE(hints.size(), size_t(2));

    const THint& full = hints[0];
    QCOMPARE(full.m_Title, u"Guild wars"_qs);
    QCOMPARE(full.m_RichText, Prefix + u"Join <a href='x'>now</a>"_qs);
    QCOMPARE(full.m_ImageUrl, u"https://img.example.test/a.png"_qs);
    QCOMPARE(full.m_Category, u"cat2"_qs);
    QCOMPARE(full.m_Url, u"https://www.example.test/guilds"_qs);
    QCOMPARE(full.m_DisplayAfter, QDateTime(QDate(2024, 3, 1), QTime(10, 0), Qt::UTC));
    QVERIFY(!full.m_DisplayUntil.isValid());
    // A key that is present but not a boolean still takes the hint out of the rotation.
    QVERIFY(full.m_HasEmergencyFlag);
    QVERIFY(!full.m_Emergency);

    const THint& bare = hints[1];
    QVERIFY(bare.m_Title.isEmpty());
    QVERIFY(bare.m_ImageUrl.isEmpty());
    QVERIFY(bare.m_Category.isEmpty());
    QVERIFY(bare.m_Url.isEmpty());
    QVERIFY(!bare.m_DisplayAfter.isValid());
    QVERIFY(!bare.m_HasEmergencyFlag);
    QVERIFY(!bare.m_Emergency);
}

void TestRandomHints::dropsHintsWithoutText() {
    const QByteArray document = R"([
        {"title": "empty", "richText": ""},
        {"title": "missing"},
        {"title": "blank", "richText": "   "},
        {"title": "text", "richText": "hello"},
        "not an object"
    ])";
    const std::vector<THint> hints = shared::parseHints(document);
    QCOMPARE(hints.size(), size_t(2));
    QCOMPARE(hints[0].m_Title, u"blank"_qs);
    QCOMPARE(hints[0].m_RichText, Prefix + u"   "_qs);
    QCOMPARE(hints[1].m_Title, u"text"_qs);
}

void TestRandomHints::unreadableDocumentsGiveNoHints() {
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(u"^Could not parse hints file at offset \\d+ :"_qs));
    QVERIFY(shared::parseHints(QByteArrayLiteral("[{\"richText\": \"x\"")).empty());

    // Well-formed JSON that is not an array holds no hints either, and is no parse error.
    QVERIFY(shared::parseHints(QByteArrayLiteral("{\"richText\": \"x\"}")).empty());
    QVERIFY(shared::parseHints(QByteArrayLiteral("[]")).empty());
}

void TestRandomHints::emergencyHintWinsOverDates() {
    const QDateTime now = utc(u"2024-06-01T12:00:00Z"_qs);
    THint dated = makeHint(u"dated"_qs);
    dated.m_DisplayAfter = utc(u"2024-05-01T00:00:00Z"_qs);
    THint expired = makeHint(u"expired emergency"_qs);
    expired.m_HasEmergencyFlag = true;
    expired.m_Emergency = true;
    expired.m_DisplayUntil = utc(u"2020-01-01T00:00:00Z"_qs);
    THint second = makeHint(u"second emergency"_qs);
    second.m_HasEmergencyFlag = true;
    second.m_Emergency = true;

    QCOMPARE(selectedTitle({dated, expired, second}, now), u"expired emergency"_qs);
}

void TestRandomHints::emergencyFalseIsNeverPicked() {
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    THint calm = makeHint(u"calm"_qs);
    calm.m_HasEmergencyFlag = true;
    calm.m_DisplayAfter = utc(u"1960-01-01T00:00:00Z"_qs);
    QCOMPARE(selectedTitle({calm}, now), u"<none>"_qs);
    QCOMPARE(selectedTitle({calm, makeHint(u"plain"_qs)}, now), u"plain"_qs);
    QCOMPARE(selectedTitle({}, now), u"<none>"_qs);
}

void TestRandomHints::displayWindowBoundsAreInclusive() {
    const QDateTime now = utc(u"2024-06-01T12:00:00Z"_qs);
    THint startsNow = makeHint(u"starts now"_qs);
    startsNow.m_DisplayAfter = now;
    THint endsNow = makeHint(u"ends now"_qs);
    endsNow.m_DisplayUntil = now;
    THint future = makeHint(u"future"_qs);
    future.m_DisplayAfter = now.addMSecs(1);
    THint past = makeHint(u"past"_qs);
    past.m_DisplayUntil = now.addMSecs(-1);

    QCOMPARE(selectedTitle({future, past, startsNow}, now), u"starts now"_qs);
    QCOMPARE(selectedTitle({future, past, endsNow}, now), u"ends now"_qs);
    QCOMPARE(selectedTitle({future, past}, now), u"<none>"_qs);

    // A window given in another time zone is compared as the same instant.
    THint berlin = makeHint(u"berlin"_qs);
    berlin.m_DisplayAfter = utc(u"2024-06-01T14:00:00+02:00"_qs);
    QCOMPARE(selectedTitle({berlin}, now), u"berlin"_qs);
    berlin.m_DisplayAfter = utc(u"2024-06-01T14:00:01+02:00"_qs);
    QCOMPARE(selectedTitle({berlin}, now), u"<none>"_qs);
}

void TestRandomHints::firstDatedCandidateWins() {
    const QDateTime now = utc(u"2024-06-01T12:00:00Z"_qs);
    THint open = makeHint(u"undated"_qs);
    THint first = makeHint(u"first dated"_qs);
    first.m_DisplayUntil = utc(u"2024-12-31T00:00:00Z"_qs);
    THint second = makeHint(u"second dated"_qs);
    second.m_DisplayAfter = utc(u"2024-01-01T00:00:00Z"_qs);

    QCOMPARE(selectedTitle({open, first, second}, now), u"first dated"_qs);
    QCOMPARE(selectedTitle({open, second, first}, now), u"second dated"_qs);
}

void TestRandomHints::undatedCandidatesTakeTurnsByTime() {
    const std::vector<THint> three = {makeHint(u"a"_qs), makeHint(u"b"_qs), makeHint(u"c"_qs)};
    const auto at = [](qint64 Milliseconds) {
        return QDateTime::fromMSecsSinceEpoch(Milliseconds, Qt::UTC);
    };
    QCOMPARE(selectedTitle(three, at(1000)), u"b"_qs);
    QCOMPARE(selectedTitle(three, at(999)), u"a"_qs);
    QCOMPARE(selectedTitle(three, at(1001)), u"c"_qs);
    QCOMPARE(selectedTitle(three, at(1717243200000)), u"a"_qs);

    // Hints out of the rotation do not count toward the modulo.
    THint calm = makeHint(u"calm"_qs);
    calm.m_HasEmergencyFlag = true;
    const std::vector<THint> withCalm = {calm, three[0], three[1], three[2]};
    QCOMPARE(selectedTitle(withCalm, at(1000)), u"b"_qs);
}

LAUNCHER_TEST(TestRandomHints)
#include "tst_randomhints.moc"
