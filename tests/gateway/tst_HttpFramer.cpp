#include "gateway/HttpFramer.h"

#include <QTest>

namespace {
// Walks `framer` over `stream` in pieces of `piece` bytes, as the relay does, and writes
// down where each message began, where its head ended (with the request line or status)
// and where it ended, as stream offsets.
QStringList walk(HttpFramer &framer, const QByteArray &stream, qsizetype piece)
{
    QStringList events;
    qsizetype at = 0;
    while (at < stream.size()) {
        const qsizetype end = std::min(stream.size(), at + piece);
        while (at < end) {
            if (framer.beginsMessage(stream.at(at)))
                events << QStringLiteral("begin@%1").arg(at);
            at += qsizetype(framer.feed(stream.constData() + at, std::size_t(end - at)));
            if (framer.takeHeadEnded())
                events << QStringLiteral("head@%1 %2").arg(at).arg(
                    framer.status() ? QString::number(framer.status())
                                    : QString::fromLatin1(framer.method() + ' ' + framer.target()));
            if (framer.messageEnded()) {
                events << QStringLiteral("end@%1").arg(at);
                framer.next();
            }
        }
    }
    return events;
}

QStringList walkAll(HttpFramer::Role role, const QByteArray &stream, qsizetype piece,
                    const QList<HttpFramer::Asked> &asked = {})
{
    HttpFramer framer(role);
    for (const HttpFramer::Asked &a : asked)
        framer.expect(a);
    return walk(framer, stream, piece);
}
}

class TestHttpFramer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pipelinedRequestsInAnyPieces()
    {
        const QByteArray get = "GET /api/tags HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray post = "POST /api/generate HTTP/1.1\r\nContent-Length: 17\r\n\r\n{\"model\": \"a:1b\"}";
        const QByteArray chunked = "POST /api/chat HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
                                   "5;ext=1\r\nhello\r\n10\r\n0123456789abcdef\r\n0\r\nX-Trailer: 1\r\n\r\n";
        // LF-only lines are read too, and empty lines between requests belong to none.
        const QByteArray bare = "\r\n\nGET / HTTP/1.0\n\n";
        const QByteArray stream = get + post + chunked + bare;
        const qsizetype a = get.size(), b = a + post.size(), c = b + chunked.size();
        const QStringList expected{
            "begin@0", QStringLiteral("head@%1 GET /api/tags").arg(a), QStringLiteral("end@%1").arg(a),
            QStringLiteral("begin@%1").arg(a), QStringLiteral("head@%1 POST /api/generate").arg(b - 17),
            QStringLiteral("end@%1").arg(b),
            QStringLiteral("begin@%1").arg(b), QStringLiteral("head@%1 POST /api/chat").arg(b + chunked.indexOf("5;")),
            QStringLiteral("end@%1").arg(c),
            QStringLiteral("begin@%1").arg(c + 3), QStringLiteral("head@%1 GET /").arg(stream.size()),
            QStringLiteral("end@%1").arg(stream.size()),
        };
        // Where the pieces are cut must not matter: every cut lands somewhere in a line,
        // a chunk size, chunk data or a trailer.
        for (qsizetype piece : {stream.size(), qsizetype(1), qsizetype(2), qsizetype(3), qsizetype(7), qsizetype(64)})
            QCOMPARE(walkAll(HttpFramer::Role::Request, stream, piece), expected);
    }

    void bodiesCanBeSkippedUnseen()
    {
        HttpFramer framer(HttpFramer::Role::Request);
        const QByteArray head = "PUT /api/blobs/sha256:1 HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
        QCOMPARE(framer.feed(head.constData(), std::size_t(head.size())), std::size_t(head.size()));
        QVERIFY(framer.takeHeadEnded());
        QCOMPARE(framer.opaqueAhead(), std::size_t(100000));
        framer.skip(60000);
        QCOMPARE(framer.opaqueAhead(), std::size_t(40000));
        QVERIFY(!framer.messageEnded());
        framer.skip(40000);
        QVERIFY(framer.messageEnded());
        framer.next();
        QVERIFY(framer.awaitingMessage());

        // Chunk data is opaque too, the chunk's own line is not.
        HttpFramer chunks(HttpFramer::Role::Response);
        const QByteArray reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        chunks.feed(reply.constData(), std::size_t(reply.size()));
        QVERIFY(chunks.takeHeadEnded());
        QCOMPARE(chunks.opaqueAhead(), std::size_t(0));
        chunks.feed("8000\r\n", 6);
        QCOMPARE(chunks.opaqueAhead(), std::size_t(0x8000));
        chunks.skip(0x8000);
        QCOMPARE(chunks.opaqueAhead(), std::size_t(0));
        const QByteArray tail = "\r\n0\r\n\r\n";
        QCOMPARE(chunks.feed(tail.constData(), std::size_t(tail.size())), std::size_t(tail.size()));
        QVERIFY(chunks.messageEnded());
    }

    void repliesFollowTheirRequests()
    {
        HttpFramer::Asked head;
        head.head = true;
        HttpFramer::Asked generate;
        generate.watched = true;
        const QByteArray headReply = "HTTP/1.1 200 OK\r\nContent-Length: 1234\r\n\r\n";   // no body after HEAD
        const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\n";                         // not the reply yet
        const QByteArray noContent = "HTTP/1.1 204 No Content\r\n\r\n";
        const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n";
        const QByteArray stream = headReply + interim + noContent + chunked;
        HttpFramer framer(HttpFramer::Role::Response);
        framer.expect(head);
        framer.expect({});
        framer.expect(generate);
        const QStringList events = walk(framer, stream, 5);
        const qsizetype a = headReply.size(), b = a + interim.size(), c = b + noContent.size();
        QCOMPARE(events, (QStringList{
            "begin@0", QStringLiteral("head@%1 200").arg(a), QStringLiteral("end@%1").arg(a),
            QStringLiteral("begin@%1").arg(a), QStringLiteral("head@%1 100").arg(b), QStringLiteral("end@%1").arg(b),
            QStringLiteral("begin@%1").arg(b), QStringLiteral("head@%1 204").arg(c), QStringLiteral("end@%1").arg(c),
            QStringLiteral("begin@%1").arg(c), QStringLiteral("head@%1 200").arg(c + chunked.indexOf("3\r\n")),
            QStringLiteral("end@%1").arg(stream.size())}));
        QVERIFY(framer.watched());   // the chunked reply answers the watched request

        // A reply with neither length nor chunks ends with the connection.
        HttpFramer open(HttpFramer::Role::Response);
        const QByteArray unbounded = "HTTP/1.0 200 OK\r\n\r\nand so on";
        open.feed(unbounded.constData(), std::size_t(unbounded.size()));
        QVERIFY(open.takeHeadEnded());
        QCOMPARE(open.opaqueAhead(), HttpFramer::kUnbounded);
    }

    void otherProtocolsPassUnframed_data()
    {
        QTest::addColumn<HttpFramer::Role>("role");
        QTest::addColumn<QByteArray>("stream");
        QTest::newRow("json, no request line") << HttpFramer::Role::Request << QByteArray(R"({"model": "x"})");
        QTest::newRow("binary reply") << HttpFramer::Role::Response << QByteArray("\x00\x01\x02", 3);
        QTest::newRow("not a version") << HttpFramer::Role::Request << QByteArray("GET / SPDY/3\r\n\r\nGET / HTTP/1.1\r\n\r\n");
        QTest::newRow("bad chunk size") << HttpFramer::Role::Request
                                        << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n");
        QTest::newRow("upgrade") << HttpFramer::Role::Request
                                 << QByteArray("GET /ws HTTP/1.1\r\nUpgrade: websocket\r\n\r\nGET / HTTP/1.1\r\n\r\n");
        QTest::newRow("endless head") << HttpFramer::Role::Request
                                      << "GET / HTTP/1.1\r\n" + QByteArray("X-Filler: 0123456789\r\n").repeated(4000);
    }
    void otherProtocolsPassUnframed()
    {
        QFETCH(HttpFramer::Role, role);
        QFETCH(QByteArray, stream);
        HttpFramer framer(role);
        const QStringList events = walk(framer, stream, 4096);
        // One message that never ends: everything after the point of doubt is one stream.
        QCOMPARE(events.count(QStringLiteral("begin@0")), 1);
        QVERIFY2(!events.join(' ').contains("end@"), qPrintable(events.join(' ')));
        QVERIFY(!framer.isFramed());
        QCOMPARE(framer.opaqueAhead(), HttpFramer::kUnbounded);
    }
};

QTEST_GUILESS_MAIN(TestHttpFramer)
#include "tst_HttpFramer.moc"
