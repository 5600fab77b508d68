// Feeds one arbitrary answer body to every response decoder and the expiry reader, as a hostile or
// broken backend could. The first byte picks nothing: every decoder sees every input, so one corpus
// serves them all.
#include "FuzzSupport.h"

#include "backend/BackendRecords.h"
#include "backend/ISO8601DateFormatter.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace fennimar;
    const QByteArray body = fuzz::bytesOf(data, size);

    const auto ticket = PairingTicket::fromJson(body);
    fuzz::require(ticket.ok() || !ticket.error().isEmpty());
    (void)SetupStatus::fromJson(body);
    const auto apps = InstalledAppsResponse::fromJson(body);
    if (apps)
        (void)selectedPackages(*apps);
    (void)AppsSeenResponse::fromJson(body);

    // The expiry reader: an instant it accepts must read back the same from its own writing.
    const auto &formatter = ISO8601DateFormatter::fennimar();
    const auto at = formatter.date(QString::fromUtf8(body));
    if (at) {
        fuzz::require(at->isValid());
        const auto again = formatter.date(formatter.string(*at));
        fuzz::require(again.has_value() && *again == *at);
    }
    return 0;
}
