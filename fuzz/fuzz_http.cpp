// HTTP as it reaches Quillmoor's listeners: the gateway's framer over both directions of a
// relayed connection, fed in pieces as the relay reads them, the request head of the
// metrics endpoint with its Accept header, and the address the endpoint is told to use.
// Watched replies' bodies go to the generation reader, as the relay's do, and the stream
// is also read by it whole, as the body of one reply.
#include "FuzzInput.h"

#include "exporter/MetricsEndpoint.h"
#include "exporter/MetricsFormatter.h"
#include "gateway/GenerationMeter.h"
#include "gateway/HttpFramer.h"
#include "platform/HttpGetListener.h"

namespace {
// Walks a framer over `stream` as the relay does, in pieces of `piece` bytes.
void walk(HttpFramer &framer, const char *stream, std::size_t size, std::size_t piece, GenerationMeter *meter = nullptr)
{
    if (meter) {
        framer.setBodyListener(meter);
        meter->begin();
    }
    std::size_t at = 0;
    while (at < size) {
        const std::size_t end = std::min(size, at + piece);
        while (at < end) {
            (void)framer.beginsMessage(stream[at]);
            at += framer.feed(stream + at, end - at);
            if (framer.takeHeadEnded())
                (void)framer.opaqueAhead();
            if (framer.messageEnded()) {
                if (meter)
                    (void)meter->finish();
                framer.next();
            }
        }
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The first byte picks the piece size and what the replies answer; the rest is the stream.
    const unsigned control = size ? data[0] : 0;
    const auto *stream = reinterpret_cast<const char *>(data) + (size ? 1 : 0);
    const std::size_t length = size ? size - 1 : 0;
    const std::size_t piece = (control & 0x0F) == 0 ? length + 1 : (control & 0x0F);

    HttpFramer requests(HttpFramer::Role::Request);
    walk(requests, stream, length, piece);

    HttpFramer replies(HttpFramer::Role::Response);
    for (int i = 0; i < 4; ++i) {
        HttpFramer::Asked asked;
        asked.head = (control >> (4 + i)) & 1;
        asked.tunnel = i == 3 && (control & 0x80);
        asked.watched = i % 2;
        replies.expect(asked);
    }
    GenerationMeter meter;
    walk(replies, stream, length, piece, &meter);
    meter.begin();
    for (std::size_t at = 0; at < length; at += piece)
        meter.bodyBytes(stream + at, std::min(piece, length - at));
    if (const auto figures = meter.finish())
        (void)figures->model.size();

    const QByteArray head(stream, static_cast<qsizetype>(length));
    if (const auto request = HttpGetListener::parseHead(head))
        (void)MetricsFormatter::formatFor(request->accept);
    (void)MetricsFormatter::formatFor(head);
    (void)MetricsEndpoint::parseAddress(QString::fromUtf8(head));
    return 0;
}
