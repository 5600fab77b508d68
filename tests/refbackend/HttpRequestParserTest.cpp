#include "tools/refbackend/HttpRequestParser.h"

#include <gtest/gtest.h>

namespace fennimar::refbackend {
namespace {

// Framing: "METHOD target body" per request, "<status>" for a refusal, "+" awaiting more, "+100" owed.
QByteArray frame(const QByteArray &stream)
{
    HttpRequestParser parser({128, 16, 64});
    parser.feed(stream);
    QByteArray out;
    for (;;) {
        const auto step = parser.next();
        if (const auto *more = std::get_if<HttpRequestParser::NeedMore>(&step))
            return out + (more->sendContinue ? "+100" : "+");
        if (const auto *failed = std::get_if<HttpRequestParser::Failure>(&step))
            return out + QByteArray::number(failed->status);
        const auto &parsed = std::get<HttpRequestParser::Parsed>(step);
        out += parsed.method + ' ' + parsed.target + ' ' + parsed.body + (parsed.http10 ? " 1.0" : "") + '|';
    }
}

TEST(HttpRequestParser, FramesWhatItCanAndRefusesWhatWouldLetTwoReadersDisagree)
{
    const struct {
        const char *name;
        QByteArray stream, framed;
    } cases[] = {
        {"pipelined", "GET /a?x=1 HTTP/1.1\r\n\r\nPOST /b HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}",
         "GET /a?x=1 |POST /b {}|+"},
        {"body not complete", "POST /b HTTP/1.1\r\ncontent-length: 5\r\n\r\n{}", "+"},
        {"HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", "GET /  1.0|+"},
        {"stray CRLF before a request", "\r\nGET / HTTP/1.1\r\n\r\n", "GET / |+"},
        {"head over the limit", "GET / HTTP/1.1\r\nX: " + QByteArray(130, 'a'), "431"},
        {"body over the limit, read to its end first", "POST / HTTP/1.1\r\nContent-Length: 17\r\n\r\n0123456789", "+"},
        {"body over the limit, then refused", "POST / HTTP/1.1\r\nContent-Length: 17\r\n\r\n" + QByteArray(17, 'x'),
         "413"},
        {"body over the limit, over the discard cap", "POST / HTTP/1.1\r\nContent-Length: 65\r\n\r\n", "413"},
        {"over the limit while waiting for 100",
         "POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 17\r\n\r\n", "413"},
        {"100 Continue owed", "POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n", "+100"},
        {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "501"},
        {"two lengths", "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", "400"},
        {"signed length", "POST / HTTP/1.1\r\nContent-Length: +2\r\n\r\nab", "400"},
        {"folded header", "GET / HTTP/1.1\r\nX: a\r\n b\r\n\r\n", "400"},
        {"bare LF only, never a CRLF", "GET / HTTP/1.1\nHost: a\n\n", "400"},
        {"absolute target", "GET http://a/ HTTP/1.1\r\n\r\n", "400"},
        {"other version", "GET / HTTP/2.0\r\n\r\n", "400"},
        {"refusal sticks", "GET / HTTP/9\r\n\r\nGET / HTTP/1.1\r\n\r\n", "400"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(frame(c.stream), c.framed) << c.name;
}
}  // namespace
}  // namespace fennimar::refbackend
