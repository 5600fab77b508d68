#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace fennimar::refbackend {

// The page at "/": the overview (see Overview.h) as plain HTML and CSS with one server-drawn SVG
// bar chart per day, no script and nothing fetched from elsewhere, refreshed by the browser itself.
// Each bar carries data-hour and data-seconds, and each chart a text alternative, so people with
// screen readers and tests read the same figures the bars draw.
namespace OverviewPage {

// Seconds between the browser's reloads of the page.
constexpr int kRefreshSeconds = 5;

// Renders overview as a UTF-8 HTML document. Pure; any text from devices is escaped.
QByteArray render(const QJsonObject &overview);

}  // namespace OverviewPage

}  // namespace fennimar::refbackend
