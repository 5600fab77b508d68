#pragma once

#include "tools/refbackend/HttpRequestParser.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QUrlQuery>

namespace fennimar::refbackend {

// One parsed HTTP request, detached from the socket it came on.
struct Request {
    QByteArray method;     // "GET", "POST", ...
    QByteArray rawPath;    // still percent-encoded, as it came
    QStringList segments;  // the path split at "/" and then decoded, without the leading empty one
    QUrlQuery query;
    HttpHeaders headers;
    QByteArray body;
    QHostAddress remote;

    // The first header of that name (case-insensitive), or an empty array.
    QByteArray header(const QByteArray &name) const { return headerValue(headers, name); }
};

}  // namespace fennimar::refbackend
