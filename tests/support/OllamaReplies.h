#pragma once

// Replies shaped as Ollama writes them for /api/chat and /api/generate: streamed lines of
// partial output, then a last object with the generation's figures.

#include "gateway/GenerationFigures.h"

#include <QByteArray>
#include <QList>

// The object that ends a generation, with every figure Ollama gives there.
inline QByteArray finalObject(const GenerationFigures &f, bool chat = true)
{
    const QByteArray model = f.model.toUtf8();
    const QByteArray body = chat ? QByteArray(R"("message":{"role":"assistant","content":""},)")
                                 : QByteArray(R"("response":"","context":[128006,882,128007,271,9906,0,128009],)");
    return R"({"model":")" + model + R"(","created_at":"2026-12-08T10:00:00.5Z",)" + body
        + R"("done":true,"done_reason":"stop","total_duration":)" + QByteArray::number(quint64(f.loadNs + f.promptEvalNs + f.evalNs + 1000))
        + R"(,"load_duration":)" + QByteArray::number(quint64(f.loadNs))
        + R"(,"prompt_eval_count":)" + QByteArray::number(quint64(f.promptTokens))
        + R"(,"prompt_eval_duration":)" + QByteArray::number(quint64(f.promptEvalNs))
        + R"(,"eval_count":)" + QByteArray::number(quint64(f.generatedTokens))
        + R"(,"eval_duration":)" + QByteArray::number(quint64(f.evalNs)) + "}";
}

// `count` partial lines whose text is made to trip a careless reader: braces, quotes,
// escapes and a "done" inside strings and nested objects.
inline QList<QByteArray> partialLines(const QByteArray &model, int count, bool chat = true)
{
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i) {
        const QByteArray text = "tok" + QByteArray::number(i) + R"( {\"done\": true} \\ } ])";
        lines << (chat ? R"({"model":")" + model + R"(","created_at":"2026-12-08T10:00:00Z","message":{"role":"assistant","content":")" + text + R"(","done":true},"done":false})"
                       : R"({"model":")" + model + R"(","created_at":"2026-12-08T10:00:00Z","response":")" + text + R"(","done":false})");
    }
    return lines;
}

// A streamed reply's body: each line, then the last object, one line each.
inline QByteArray ndjson(const QList<QByteArray> &lines)
{
    QByteArray body;
    for (const QByteArray &line : lines)
        body += line + "\n";
    return body;
}

// A whole HTTP reply carrying `lines` as chunks, one line each, as Ollama streams them.
inline QByteArray chunkedNdjson(const QList<QByteArray> &lines)
{
    QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nDate: Tue, 08 Dec 2026 10:00:00 GMT\r\n"
                       "Transfer-Encoding: chunked\r\n\r\n";
    for (const QByteArray &line : lines)
        reply += QByteArray::number(line.size() + 1, 16) + "\r\n" + line + "\n\r\n";
    return reply + "0\r\n\r\n";
}

inline QByteArray jsonReply(const QByteArray &body, int status = 200)
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found")
        + "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n\r\n" + body;
}

// A last object whose figures have namesakes inside a message, the options and strings,
// with escaped quotes and backslashes; its own: qwen2.5:7b, 12 tokens in 2 s.
inline QByteArray lookalikes()
{
    return R"({"model":"qwen2.5:7b","message":{"role":"assistant","content":"\"eval_count\":9,\\","eval_count":7},)"
           R"("options":{"model":"decoy","done":false,"eval_duration":1},"eval_count":12,"eval_duration":2000000000,)"
           R"("note":"} {\"done\":false}","done":true})";
}
