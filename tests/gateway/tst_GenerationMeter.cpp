#include "gateway/GenerationMeter.h"
#include "support/OllamaReplies.h"

#include <QTest>

namespace {
GenerationFigures figures(const QString &model = QStringLiteral("llama3.1:8b"))
{
    GenerationFigures f;
    f.model = model;
    f.promptTokens = 26;
    f.generatedTokens = 298;
    f.loadNs = 6'338'219'291;
    f.promptEvalNs = 130'079'000;
    f.evalNs = 4'232'710'000;
    return f;
}

std::optional<GenerationFigures> meter(const QList<QByteArray> &pieces)
{
    GenerationMeter meter;
    meter.begin();
    for (const QByteArray &piece : pieces)
        meter.bodyBytes(piece.constData(), std::size_t(piece.size()));
    return meter.finish();
}
}

class TestGenerationMeter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The figures come out whole however the body is cut: at every byte of the last
    // object, byte by byte, and for both reply kinds, streamed or in one object.
    void lastObjectReadAcrossEveryCut()
    {
        for (bool chat : {true, false}) {
            const GenerationFigures expected = figures();
            const QByteArray last = finalObject(expected, chat);
            const QByteArray body = ndjson(partialLines("llama3.1:8b", 40, chat) << last);
            const qsizetype lastStart = body.size() - last.size() - 1;
            for (qsizetype cut = lastStart; cut <= body.size(); ++cut) {
                const std::optional<GenerationFigures> got = meter({body.left(cut), body.mid(cut)});
                QVERIFY2(got.has_value(), qPrintable(QStringLiteral("cut at %1").arg(cut)));
                QCOMPARE(*got, expected);
            }
            // A line a piece, as Ollama streams them: the partial lines are passed over
            // quickly, and the last is still read.
            QList<QByteArray> lines;
            for (const QByteArray &line : body.split('\n'))
                if (!line.isEmpty())
                    lines << line + "\n";
            QCOMPARE(meter(lines), std::optional(expected));
            lines.removeLast();
            QCOMPARE(meter(lines), std::nullopt);   // ended before its last object
            QList<QByteArray> bytes;
            for (char c : body)
                bytes << QByteArray(1, c);
            QCOMPARE(meter(bytes), std::optional(expected));
            // Not streamed: one object, its text and context as long as they come.
            QCOMPARE(meter({last}), std::optional(expected));
        }
    }

    // Only the top level counts: keys of the same names inside messages, options or
    // strings, and escaped quotes and backslashes, are passed over.
    void nestedAndQuotedLookalikesIgnored()
    {
        const QByteArray last = lookalikes();
        const std::optional<GenerationFigures> got = meter({last});
        QVERIFY(got);
        QCOMPARE(got->model, QStringLiteral("qwen2.5:7b"));
        QCOMPARE(got->generatedTokens, 12u);
        QCOMPARE(got->evalNs, 2'000'000'000u);
        QCOMPARE(got->promptTokens, 0u);   // not reported: not invented
    }

    // A reply without a complete last object that says it is done gives no figures: the
    // request counts, its tokens do not.
    void noFiguresWithoutACompleteDoneObject_data()
    {
        QTest::addColumn<QByteArray>("body");
        const QByteArray last = finalObject(figures());
        const QByteArray lines = ndjson(partialLines("llama3.1:8b", 3));
        QTest::newRow("error object") << QByteArray(R"({"error":"model 'llama9' not found"})");
        QTest::newRow("cut inside the last object") << lines + last.left(last.size() - 20);
        QTest::newRow("cut inside a string") << lines + last.left(last.indexOf("stop") + 2);
        QTest::newRow("text after the last object") << lines + last + "\n<html>502 Bad Gateway</html>";
        QTest::newRow("not JSON at all") << QByteArray("upstream connect error or disconnect/reset before headers");
        QTest::newRow("only partial lines") << lines;
        QTest::newRow("done is not true") << QByteArray(R"({"model":"a","done":"true","eval_count":5})");
        QTest::newRow("empty") << QByteArray();
    }
    void noFiguresWithoutACompleteDoneObject()
    {
        QFETCH(QByteArray, body);
        QCOMPARE(meter({body}), std::nullopt);
    }

    // A meter serves one reply after another on a kept-alive connection.
    void eachReplyStartsAfresh()
    {
        GenerationMeter meter;
        const QByteArray cut = finalObject(figures()).left(50);
        meter.begin();
        meter.bodyBytes(cut.constData(), std::size_t(cut.size()));
        QCOMPARE(meter.finish(), std::nullopt);
        const GenerationFigures second = figures(QStringLiteral("phi3:mini"));
        const QByteArray whole = finalObject(second);
        meter.begin();
        meter.bodyBytes(whole.constData(), std::size_t(whole.size()));
        QCOMPARE(meter.finish(), std::optional(second));
    }
};

QTEST_APPLESS_MAIN(TestGenerationMeter)
#include "tst_GenerationMeter.moc"
