// Feeds arbitrary bytes, cut into arbitrary pieces, to the reference backend's request framing: it
// must never crash, never hand a route a body over the limit, and never frame the same bytes
// differently because they arrived in other pieces (the root of request smuggling).
#include "FuzzSupport.h"

#include "tools/refbackend/HttpRequestParser.h"

#include <vector>

namespace {

using fennimar::refbackend::HttpRequestParser;

// What the parser makes of the stream: each request's method, target and body, then the failure.
QByteArray frame(const QByteArray &stream, qsizetype piece)
{
    HttpRequestParser parser({512, 256, 1024});
    QByteArray out;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        parser.feed(stream.mid(at, piece));
        for (;;) {
            const auto step = parser.next();
            if (std::holds_alternative<HttpRequestParser::NeedMore>(step))
                break;
            if (const auto *failed = std::get_if<HttpRequestParser::Failure>(&step))
                return out + "failed " + QByteArray::number(failed->status);
            const auto &parsed = std::get<HttpRequestParser::Parsed>(step);
            fennimar::fuzz::require(parsed.body.size() <= 256);
            out += parsed.method + ' ' + parsed.target + ' ' + parsed.body + '\n';
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype piece = 1 + data[0] % 16;
    const QByteArray stream = fennimar::fuzz::bytesOf(data + 1, size - 1);
    fennimar::fuzz::require(frame(stream, piece) == frame(stream, stream.size() + 1));
    return 0;
}
