#include "shared/network/nocachequeryitem.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QSet>
#include <QTest>
#include <QUrlQuery>

using namespace shared;
using testsupport::operator""_qs;

namespace {

const QString Alphabet = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"_qs;

} // namespace

class TestNocacheQueryItem : public QObject {
    Q_OBJECT
private slots:
    void itemComesLastAndKeepsTheRestIntact_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expectedPrefix");
        QTest::newRow("no query") << u"https://cdn.example.com/v/package.json"_qs
                                  << u"https://cdn.example.com/v/package.json?nocache="_qs;
        QTest::newRow("existing items") << u"https://cdn.example.com/a.json?b=2&a=1"_qs
                                        << u"https://cdn.example.com/a.json?b=2&a=1&nocache="_qs;
        // Signed CDN addresses carry encoded "+", "/" and "="; they must survive as sent.
        QTest::newRow("encoded signature")
            << u"https://cdn.example.com/a.json?sig=ab%2Bc%2Fd%3D%3D&e=1"_qs
            << u"https://cdn.example.com/a.json?sig=ab%2Bc%2Fd%3D%3D&e=1&nocache="_qs;
        QTest::newRow("an older nocache stays") << u"http://127.0.0.1:8080/p.json?nocache=old"_qs
                                                << u"http://127.0.0.1:8080/p.json?nocache=old&nocache="_qs;
        QTest::newRow("fragment") << u"https://cdn.example.com/a.json?x=1#part"_qs
                                  << u"https://cdn.example.com/a.json?x=1&nocache="_qs;
    }

    void itemComesLastAndKeepsTheRestIntact() {
        QFETCH(QString, address);
        QFETCH(QString, expectedPrefix);
        const QUrl result = addNocacheQueryItem(QUrl(address));
        const QString encoded = QString::fromUtf8(result.toEncoded(QUrl::RemoveFragment));
        QVERIFY2(encoded.startsWith(expectedPrefix), qPrintable(encoded));
        QCOMPARE(encoded.size(), expectedPrefix.size() + 32);
        QCOMPARE(result.fragment(), QUrl(address).fragment());
        QCOMPARE(result.path(), QUrl(address).path());
    }

    void valuesAre32LettersOrDigitsAndVary() {
        const QUrl url(u"https://cdn.example.com/a.json?x=1"_qs);
        QSet<QString> values;
        QSet<QChar> seen;
        const int draws = 400;
        for (int i = 0; i < draws; ++i) {
            const QUrlQuery query(addNocacheQueryItem(url));
            QCOMPARE(query.queryItems().size(), 2);
            QCOMPARE(query.queryItems().first(), qMakePair(u"x"_qs, u"1"_qs));
            const QString value = query.queryItemValue(u"nocache"_qs);
            QCOMPARE(value.size(), 32);
            for (const QChar c : value) {
                QVERIFY2(Alphabet.contains(c), qPrintable(value));
                seen.insert(c);
            }
            values.insert(value);
        }
        QCOMPARE(values.size(), draws);
        // 12800 draws from 62 characters: every one of them shows up.
        QCOMPARE(seen.size(), 62);
    }

    void invalidUrlComesBackUnchanged() {
        const QUrl invalid(u"http://exa mple.com:99999/a"_qs, QUrl::StrictMode);
        QVERIFY(!invalid.isValid());
        QCOMPARE(addNocacheQueryItem(invalid), invalid);
        QCOMPARE(addNocacheQueryItem(QUrl()), QUrl());
    }
};

LAUNCHER_TEST(TestNocacheQueryItem)
#include "tst_nocachequeryitem.moc"
