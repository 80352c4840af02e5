#include "shared/randomhints/randomhints.h"

#include <QRegularExpression>
#include <QTest>

using shared::THint;

namespace {

const QString Prefix = QStringLiteral("<style>a { color: #c0c0c0; }</style>");

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
    return hint ? hint->m_Title : QStringLiteral("<none>");
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
    QCOMPARE(full.m_Title, QStringLiteral("Guild wars"));
    QCOMPARE(full.m_RichText, Prefix + QStringLiteral("Join <a href='x'>now</a>"));
    QCOMPARE(full.m_ImageUrl, QStringLiteral("https://img.example.test/a.png"));
    QCOMPARE(full.m_Category, QStringLiteral("cat2"));
    QCOMPARE(full.m_Url, QStringLiteral("https://www.example.test/guilds"));
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
    QCOMPARE(hints[0].m_Title, QStringLiteral("blank"));
    QCOMPARE(hints[0].m_RichText, Prefix + QStringLiteral("   "));
    QCOMPARE(hints[1].m_Title, QStringLiteral("text"));
}

void TestRandomHints::unreadableDocumentsGiveNoHints() {
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Could not parse hints file at offset \\d+ :")));
    QVERIFY(shared::parseHints(QByteArrayLiteral("[{\"richText\": \"x\"")).empty());

    // Well-formed JSON that is not an array holds no hints either, and is no parse error.
    QVERIFY(shared::parseHints(QByteArrayLiteral("{\"richText\": \"x\"}")).empty());
    QVERIFY(shared::parseHints(QByteArrayLiteral("[]")).empty());
}

void TestRandomHints::emergencyHintWinsOverDates() {
    const QDateTime now = utc(QStringLiteral("2024-06-01T12:00:00Z"));
    THint dated = makeHint(QStringLiteral("dated"));
    dated.m_DisplayAfter = utc(QStringLiteral("2024-05-01T00:00:00Z"));
    THint expired = makeHint(QStringLiteral("expired emergency"));
    expired.m_HasEmergencyFlag = true;
    expired.m_Emergency = true;
    expired.m_DisplayUntil = utc(QStringLiteral("2020-01-01T00:00:00Z"));
    THint second = makeHint(QStringLiteral("second emergency"));
    second.m_HasEmergencyFlag = true;
    second.m_Emergency = true;

    QCOMPARE(selectedTitle({dated, expired, second}, now), QStringLiteral("expired emergency"));
}

void TestRandomHints::emergencyFalseIsNeverPicked() {
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    THint calm = makeHint(QStringLiteral("calm"));
    calm.m_HasEmergencyFlag = true;
    calm.m_DisplayAfter = utc(QStringLiteral("1960-01-01T00:00:00Z"));
    QCOMPARE(selectedTitle({calm}, now), QStringLiteral("<none>"));
    QCOMPARE(selectedTitle({calm, makeHint(QStringLiteral("plain"))}, now), QStringLiteral("plain"));
    QCOMPARE(selectedTitle({}, now), QStringLiteral("<none>"));
}

void TestRandomHints::displayWindowBoundsAreInclusive() {
    const QDateTime now = utc(QStringLiteral("2024-06-01T12:00:00Z"));
    THint startsNow = makeHint(QStringLiteral("starts now"));
    startsNow.m_DisplayAfter = now;
    THint endsNow = makeHint(QStringLiteral("ends now"));
    endsNow.m_DisplayUntil = now;
    THint future = makeHint(QStringLiteral("future"));
    future.m_DisplayAfter = now.addMSecs(1);
    THint past = makeHint(QStringLiteral("past"));
    past.m_DisplayUntil = now.addMSecs(-1);

    QCOMPARE(selectedTitle({future, past, startsNow}, now), QStringLiteral("starts now"));
    QCOMPARE(selectedTitle({future, past, endsNow}, now), QStringLiteral("ends now"));
    QCOMPARE(selectedTitle({future, past}, now), QStringLiteral("<none>"));

    // A window given in another time zone is compared as the same instant.
    THint berlin = makeHint(QStringLiteral("berlin"));
    berlin.m_DisplayAfter = utc(QStringLiteral("2024-06-01T14:00:00+02:00"));
    QCOMPARE(selectedTitle({berlin}, now), QStringLiteral("berlin"));
    berlin.m_DisplayAfter = utc(QStringLiteral("2024-06-01T14:00:01+02:00"));
    QCOMPARE(selectedTitle({berlin}, now), QStringLiteral("<none>"));
}

void TestRandomHints::firstDatedCandidateWins() {
    const QDateTime now = utc(QStringLiteral("2024-06-01T12:00:00Z"));
    THint open = makeHint(QStringLiteral("undated"));
    THint first = makeHint(QStringLiteral("first dated"));
    first.m_DisplayUntil = utc(QStringLiteral("2024-12-31T00:00:00Z"));
    THint second = makeHint(QStringLiteral("second dated"));
    second.m_DisplayAfter = utc(QStringLiteral("2024-01-01T00:00:00Z"));

    QCOMPARE(selectedTitle({open, first, second}, now), QStringLiteral("first dated"));
    QCOMPARE(selectedTitle({open, second, first}, now), QStringLiteral("second dated"));
}

void TestRandomHints::undatedCandidatesTakeTurnsByTime() {
    const std::vector<THint> three = {makeHint(QStringLiteral("a")), makeHint(QStringLiteral("b")),
                                      makeHint(QStringLiteral("c"))};
    const auto at = [](qint64 Milliseconds) {
        return QDateTime::fromMSecsSinceEpoch(Milliseconds, Qt::UTC);
    };
    QCOMPARE(selectedTitle(three, at(1000)), QStringLiteral("b"));
    QCOMPARE(selectedTitle(three, at(999)), QStringLiteral("a"));
    QCOMPARE(selectedTitle(three, at(1001)), QStringLiteral("c"));
    QCOMPARE(selectedTitle(three, at(1717243200000)), QStringLiteral("a"));

    // Hints out of the rotation do not count toward the modulo.
    THint calm = makeHint(QStringLiteral("calm"));
    calm.m_HasEmergencyFlag = true;
    const std::vector<THint> withCalm = {calm, three[0], three[1], three[2]};
    QCOMPARE(selectedTitle(withCalm, at(1000)), QStringLiteral("b"));
}

QTEST_GUILESS_MAIN(TestRandomHints)
#include "tst_randomhints.moc"
