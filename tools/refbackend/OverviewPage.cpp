#include "tools/refbackend/OverviewPage.h"

#include <QJsonArray>
#include <QString>

namespace fennimar::refbackend::OverviewPage {

namespace {

// The chart's own units (the SVG scales to the width it is given).
constexpr int kBarPitch = 20, kBarWidth = 16, kChartTop = 14, kChartHeight = 120;

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString duration(qint64 seconds)
{
    if (seconds >= 3600 && (seconds % 3600) / 60 == 0)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
    if (seconds >= 60 && seconds % 60 == 0)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}

QString hourLabel(int hour)
{
    return QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0'));
}

// The smallest of these that holds the day's fullest hour, so a few seconds still show as a bar.
int scaleTop(const QJsonArray &buckets)
{
    int fullest = 0;
    for (const auto &b : buckets)
        fullest = std::max(fullest, b.toInt());
    for (int top : {60, 300, 900, 1800})
        if (fullest <= top)
            return top;
    return 3600;
}

QString checkLabel(const QString &key)
{
    if (key.contains(QStringLiteral("accessibility")))
        return QStringLiteral("Accessibility (reads browser addresses)");
    if (key.contains(QStringLiteral("login_item")))
        return QStringLiteral("Starts at login");
    if (key == QStringLiteral("foreground_sampling"))
        return QStringLiteral("Sees which app is in front");
    if (key == QStringLiteral("tamper_evidence"))
        return QStringLiteral("Nothing in the session tried to fool the count");
    if (key == QStringLiteral("monitored_list"))
        return QStringLiteral("Counts by an app list of the last hour");
    if (key == QStringLiteral("browser_pages"))
        return QStringLiteral("Reads the page of the browser in front");
    return key;
}

// Most checks name something that must be in place; the tamper check names something that must not
// have happened since the previous heartbeat.
QString checkState(const QString &key, bool ok)
{
    if (key == QStringLiteral("tamper_evidence"))
        return ok ? QStringLiteral("\u2713 nothing seen") : QStringLiteral("\u2717 seen since the previous heartbeat");
    return ok ? QStringLiteral("\u2713 in place") : QStringLiteral("\u2717 not in place");
}

QString chart(const QJsonObject &day, const QString &id)
{
    const QJsonArray buckets = day.value(QStringLiteral("buckets")).toArray();
    const int top = scaleTop(buckets);
    QStringList counted;
    QString bars;
    for (int hour = 0; hour < 24; ++hour) {
        const int seconds = buckets.at(hour).toInt();
        const double height = static_cast<double>(seconds) * kChartHeight / top;
        if (seconds > 0)
            counted << hourLabel(hour) + QStringLiteral(" ") + duration(seconds);
        bars += QStringLiteral(
                    "<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" data-hour=\"%5\" "
                    "data-seconds=\"%6\"><title>%7 to %8: %9</title></rect>")
                    .arg(hour * kBarPitch + (kBarPitch - kBarWidth) / 2)
                    .arg(kChartTop + kChartHeight - height, 0, 'f', 2)
                    .arg(kBarWidth)
                    .arg(height, 0, 'f', 2)
                    .arg(hour)
                    .arg(seconds)
                    .arg(hourLabel(hour), hourLabel((hour + 1) % 24), duration(seconds));
        if (hour % 3 == 0)
            bars += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"tick\">%3</text>")
                        .arg(hour * kBarPitch + 1)
                        .arg(kChartTop + kChartHeight + 14)
                        .arg(hour);
    }
    const QString date = esc(day.value(QStringLiteral("date")).toString());
    const QString description =
        counted.isEmpty() ? QStringLiteral("Nothing counted.")
                          : QStringLiteral("Counted: ") + counted.join(QStringLiteral("; ")) + QStringLiteral(".");
    const int width = 24 * kBarPitch, baseline = kChartTop + kChartHeight;
    return QStringLiteral(
               "<svg class=\"chart\" viewBox=\"0 0 %1 %2\" role=\"img\" aria-labelledby=\"%3-t %3-d\">"
               "<title id=\"%3-t\">Time counted per hour on %4 (bars up to %5)</title><desc id=\"%3-d\">%6</desc>"
               "<line x1=\"0\" y1=\"%7\" x2=\"%1\" y2=\"%7\" class=\"axis\"/>"
               "<line x1=\"0\" y1=\"%8\" x2=\"%1\" y2=\"%8\" class=\"grid\"/>"
               "<text x=\"%1\" y=\"10\" class=\"tick\" text-anchor=\"end\">%5</text>%9</svg>")
        .arg(width)
        .arg(baseline + 20)
        .arg(id, date, duration(top), esc(description))
        .arg(baseline)
        .arg(kChartTop)
        .arg(bars);
}

QString hoursTable(const QJsonObject &day)
{
    const QJsonArray buckets = day.value(QStringLiteral("buckets")).toArray();
    QString rows;
    for (int hour = 0; hour < 24; ++hour)
        if (buckets.at(hour).toInt() > 0)
            rows += QStringLiteral("<tr><th scope=\"row\">%1 to %2</th><td>%3</td></tr>")
                        .arg(hourLabel(hour), hourLabel((hour + 1) % 24), duration(buckets.at(hour).toInt()));
    if (rows.isEmpty())
        return {};
    return QStringLiteral(
               "<details><summary>The counted hours as a table</summary><table><thead><tr><th "
               "scope=\"col\">Hour</th><th scope=\"col\">Counted</th></tr></thead><tbody>") +
           rows + QStringLiteral("</tbody></table></details>");
}

QString device(const QJsonObject &d, int index)
{
    const QString name = d.value(QStringLiteral("device_name")).toString();
    QString out = QStringLiteral(
                      "<section class=\"device\" aria-labelledby=\"dev%1\"><h2 id=\"dev%1\">%2 "
                      "<span class=\"sub\">%3</span></h2>")
                      .arg(index)
                      .arg(esc(name.isEmpty() ? QStringLiteral("Unnamed device") : name),
                           esc(d.value(QStringLiteral("device_type")).toString()));

    // What must not scroll away with the next heartbeat: kept until the parent dismisses it.
    QString alerts;
    if (const qint64 quiet = d.value(QStringLiteral("no_usage_hours")).toInteger(); quiet > 0)
        alerts +=
            QStringLiteral("<li>Heartbeats but no usage for %1 h while the device says it is counting</li>").arg(quiet);
    for (const auto &v : d.value(QStringLiteral("alerts")).toArray()) {
        const QJsonObject a = v.toObject();
        alerts += QStringLiteral(
                      "<li>%1 <span class=\"sub\">%2 time(s), %3 to %4 · dismiss with "
                      "<code>admin dismiss %5</code></span></li>")
                      .arg(esc(a.value(QStringLiteral("what")).toString()))
                      .arg(a.value(QStringLiteral("times")).toInteger())
                      .arg(esc(a.value(QStringLiteral("first_at")).toString()),
                           esc(a.value(QStringLiteral("last_at")).toString()))
                      .arg(a.value(QStringLiteral("id")).toInteger());
    }
    if (!alerts.isEmpty())
        out += QStringLiteral("<div class=\"bad\" role=\"alert\"><h3>Needs a look</h3><ul>%1</ul></div>").arg(alerts);

    const QJsonValue child = d.value(QStringLiteral("child"));
    const QJsonObject beat = d.value(QStringLiteral("last_heartbeat")).toObject();
    const QJsonObject build = beat.value(QStringLiteral("app_build")).toObject();
    const QJsonObject info = beat.value(QStringLiteral("platform_info")).toObject();
    QString lastBeat = QStringLiteral("none yet");
    if (!beat.isEmpty())
        lastBeat = QStringLiteral("%1 ago <span class=\"sub\">(%2, %3 in all)</span>")
                       .arg(duration(beat.value(QStringLiteral("age_seconds")).toInteger()),
                            esc(beat.value(QStringLiteral("received_at")).toString()))
                       .arg(beat.value(QStringLiteral("beats")).toInteger());
    const auto fact = [](const QString &label, const QString &html) {
        return QStringLiteral("<tr><th scope=\"row\">%1</th><td>%2</td></tr>").arg(label, html);
    };
    out += QStringLiteral("<div class=\"cols\"><table><caption>Device</caption><tbody>");
    out +=
        fact(QStringLiteral("Child"), child.isObject() ? esc(child.toObject().value(QStringLiteral("name")).toString())
                                                       : QStringLiteral("not paired yet"));
    out += fact(QStringLiteral("Last heartbeat"), lastBeat);
    if (!info.isEmpty())
        out += fact(QStringLiteral("System"), esc(info.value(QStringLiteral("os")).toString() + QLatin1Char(' ') +
                                                  info.value(QStringLiteral("os_version")).toString()));
    if (!build.isEmpty())
        out += fact(QStringLiteral("Agent"), esc(build.value(QStringLiteral("app_version")).toString()));
    out += fact(
        QStringLiteral("Device id"),
        QStringLiteral("<code>") + esc(d.value(QStringLiteral("device_id")).toString()) + QStringLiteral("</code>"));
    out += QStringLiteral("</tbody></table>");

    const QJsonObject checks = beat.value(QStringLiteral("checks")).toObject();
    out += QStringLiteral("<table><caption>Health checks</caption>");
    if (checks.isEmpty()) {
        out += QStringLiteral("<tbody><tr><td>No heartbeat with checks yet.</td></tr></tbody>");
    } else {
        out +=
            QStringLiteral("<thead><tr><th scope=\"col\">Check</th><th scope=\"col\">State</th></tr></thead><tbody>");
        for (auto it = checks.begin(); it != checks.end(); ++it) {
            const bool ok = it.value().toObject().value(QStringLiteral("ok")).toBool();
            out += QStringLiteral(
                       "<tr><th scope=\"row\">%1 <code class=\"sub\">%2</code></th><td class=\"%3\">%4</td></tr>")
                       .arg(esc(checkLabel(it.key())), esc(it.key()), ok ? QStringLiteral("ok") : QStringLiteral("bad"),
                            checkState(it.key(), ok));
        }
        out += QStringLiteral("</tbody>");
    }
    out += QStringLiteral("</table></div>");

    QString monitored;
    for (const auto &v : d.value(QStringLiteral("monitored")).toArray()) {
        const QJsonObject app = v.toObject();
        monitored += QStringLiteral("<li><code>%1</code>%2</li>")
                         .arg(esc(app.value(QStringLiteral("package_id")).toString()),
                              app.value(QStringLiteral("is_blocked")).toBool()
                                  ? QString()
                                  : QStringLiteral(" <span class=\"sub\">(listed, not counted)</span>"));
    }
    QString seen;
    for (const auto &v : d.value(QStringLiteral("apps_seen")).toArray()) {
        const QJsonObject app = v.toObject();
        seen += QStringLiteral("<li>%1 <code class=\"sub\">%2</code></li>")
                    .arg(esc(app.value(QStringLiteral("app_name")).toString()),
                         esc(app.value(QStringLiteral("bundle_id")).toString()));
    }
    const auto list = [](const QString &items) {
        return items.isEmpty() ? QStringLiteral("<p class=\"sub\">None.</p>")
                               : QStringLiteral("<ul>") + items + QStringLiteral("</ul>");
    };
    out += QStringLiteral(
               "<div class=\"cols\"><div><h3>Apps and sites counted</h3>%1</div>"
               "<div><h3>Apps seen</h3>%2</div></div>")
               .arg(list(monitored), list(seen));

    out += QStringLiteral("<h3>Time counted</h3>");
    const QJsonArray days = d.value(QStringLiteral("days")).toArray();
    if (days.isEmpty())
        out += QStringLiteral("<p class=\"sub\">No usage report yet.</p>");
    for (qsizetype i = 0; i < days.size(); ++i) {
        const QJsonObject day = days.at(i).toObject();
        const bool confirmed = day.value(QStringLiteral("confirmed")).toBool();
        out += QStringLiteral(
                   "<figure class=\"day\"><figcaption><h4>%1</h4> · <strong>%2</strong> "
                   "· <span class=\"%3\">%4</span></figcaption>%5%6</figure>")
                   .arg(esc(day.value(QStringLiteral("date")).toString()),
                        duration(day.value(QStringLiteral("total_seconds")).toInteger()),
                        confirmed ? QStringLiteral("ok") : QStringLiteral("sub"),
                        confirmed ? QStringLiteral("confirmed (sent as a past day)")
                                  : QStringLiteral("so far, not yet confirmed"),
                        chart(day, QStringLiteral("c%1-%2").arg(index).arg(i)), hoursTable(day));
    }
    return out + QStringLiteral("</section>");
}

const char kStyle[] = R"(
:root{color-scheme:light dark;--fg:#1b1f23;--bg:#f6f7f9;--card:#fff;--line:#d0d4d9;--sub:#5a6270;--bar:#2f6fde;
--ok:#1a7f37;--bad:#b3261e}
@media (prefers-color-scheme:dark){:root{--fg:#e8eaed;--bg:#15171a;--card:#202327;--line:#3a3f45;--sub:#a2a9b3;
--bar:#79a6ff;--ok:#5cc37a;--bad:#ff8a80}}
*{box-sizing:border-box}
body{margin:0;font:16px/1.45 system-ui,sans-serif;color:var(--fg);background:var(--bg)}
main{max-width:64rem;margin:0 auto;padding:1rem}
h1{font-size:1.5rem;margin:.2rem 0}h2{font-size:1.25rem;margin:0 0 .6rem}h3{font-size:1.05rem;margin:1rem 0 .4rem}
h4{display:inline;font-size:1rem;margin:0}
.sub{color:var(--sub);font-weight:normal;font-size:.9em}
.device{background:var(--card);border:1px solid var(--line);border-radius:.6rem;padding:1rem;margin:1rem 0}
.cols{display:grid;gap:1rem;align-items:start}@media (min-width:48rem){.cols{grid-template-columns:1fr 1fr}}
table{border-collapse:collapse;width:100%}caption{text-align:left;font-weight:600;padding:.2rem 0}
th,td{text-align:left;padding:.3rem .4rem;border-top:1px solid var(--line);vertical-align:top;overflow-wrap:anywhere}
th{font-weight:500}.ok{color:var(--ok)}.bad{color:var(--bad);font-weight:600}td.ok,td.bad{white-space:nowrap}
ul{margin:.2rem 0;padding-left:1.2rem}code{overflow-wrap:anywhere}
figure.day{margin:.8rem 0 1.2rem}figcaption{margin-bottom:.3rem}
.chart{width:100%;height:auto;max-width:40rem;display:block}
.bar{fill:var(--bar)}.axis{stroke:var(--sub)}.grid{stroke:var(--line);stroke-dasharray:3 3}
.tick{fill:var(--sub);font-size:13px}
details{margin-top:.3rem}
)";

}  // namespace

QByteArray render(const QJsonObject &overview)
{
    const QJsonArray devices = overview.value(QStringLiteral("devices")).toArray();
    QString body;
    for (qsizetype i = 0; i < devices.size(); ++i)
        body += device(devices.at(i).toObject(), static_cast<int>(i));
    if (devices.isEmpty())
        body = QStringLiteral("<p>No device is paired yet.</p>");
    // Anyone may ask for a code: what is not claimed is shown apart, and goes when its code expires.
    QString pending;
    for (const auto &entry : overview.value(QStringLiteral("pending_setups")).toArray()) {
        const QJsonObject p = entry.toObject();
        pending += QStringLiteral("<li>%1 <span class=\"sub\">%2 · asked at %3</span></li>")
                       .arg(esc(p.value(QStringLiteral("device_name")).toString()),
                            esc(p.value(QStringLiteral("device_type")).toString()),
                            esc(p.value(QStringLiteral("asked_at")).toString()));
    }
    if (!pending.isEmpty())
        body += QStringLiteral(
                    "<section aria-labelledby=\"pending\"><h2 id=\"pending\">Asked for a pair code, "
                    "not claimed</h2><ul>%1</ul></section>")
                    .arg(pending);
    const QString page =
        QStringLiteral(
            "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<meta http-equiv=\"refresh\" content=\"%1\"><meta name=\"referrer\" content=\"no-referrer\">"
            "<title>Fennimar: what was counted</title><style>%2</style></head><body><main>"
            "<h1>What was counted</h1><p class=\"sub\">%3 device(s) · as of %4 UTC · this page reloads "
            "every %1 s</p>%5</main></body></html>")
            .arg(kRefreshSeconds)
            .arg(QString::fromLatin1(kStyle))
            .arg(devices.size())
            .arg(esc(overview.value(QStringLiteral("generated_at")).toString()), body);
    return page.toUtf8();
}

}  // namespace fennimar::refbackend::OverviewPage
