#include "shared/network/nocachequeryitem.h"

#include <QSet>
#include <QTest>
#include <QUrlQuery>

using namespace shared;

namespace {

const QString Alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");

} // namespace

class TestNocacheQueryItem : public QObject {
    Q_OBJECT
private slots:
    void itemComesLastAndKeepsTheRestIntact_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("expectedPrefix");
        QTest::newRow("no query") << QStringLiteral("https://cdn.example.com/v/package.json")
                                  << QStringLiteral("https://cdn.example.com/v/package.json?nocache=");
        QTest::newRow("existing items") << QStringLiteral("https://cdn.example.com/a.json?b=2&a=1")
                                        << QStringLiteral("https://cdn.example.com/a.json?b=2&a=1&nocache=");
        // Signed CDN addresses carry encoded "+", "/" and "="; they must survive as sent.
        QTest::newRow("encoded signature")
            << QStringLiteral("https://cdn.example.com/a.json?sig=ab%2Bc%2Fd%3D%3D&e=1")
            << QStringLiteral("https://cdn.example.com/a.json?sig=ab%2Bc%2Fd%3D%3D&e=1&nocache=");
        QTest::newRow("an older nocache stays")
            << QStringLiteral("http://127.0.0.1:8080/p.json?nocache=old")
            << QStringLiteral("http://127.0.0.1:8080/p.json?nocache=old&nocache=");
        QTest::newRow("fragment") << QStringLiteral("https://cdn.example.com/a.json?x=1#part")
                                  << QStringLiteral("https://cdn.example.com/a.json?x=1&nocache=");
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
        const QUrl url(QStringLiteral("https://cdn.example.com/a.json?x=1"));
        QSet<QString> values;
        QSet<QChar> seen;
        const int draws = 400;
        for (int i = 0; i < draws; ++i) {
            const QUrlQuery query(addNocacheQueryItem(url));
            QCOMPARE(query.queryItems().size(), 2);
            QCOMPARE(query.queryItems().first(), qMakePair(QStringLiteral("x"), QStringLiteral("1")));
            const QString value = query.queryItemValue(QStringLiteral("nocache"));
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
        const QUrl invalid(QStringLiteral("http://exa mple.com:99999/a"), QUrl::StrictMode);
        QVERIFY(!invalid.isValid());
        QCOMPARE(addNocacheQueryItem(invalid), invalid);
        QCOMPARE(addNocacheQueryItem(QUrl()), QUrl());
    }
};

QTEST_MAIN(TestNocacheQueryItem)
#include "tst_nocachequeryitem.moc"
