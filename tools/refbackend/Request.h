#pragma once

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
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QHostAddress remote;

    // The first header of that name (case-insensitive), or an empty array.
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &[key, value] : headers)
            if (key.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        return {};
    }
};

}  // namespace fennimar::refbackend
