// Feeds arbitrary bytes to the ledger loader. A ledger that decodes must survive its own encoding:
// what the agent saves is what it loads after a restart.
#include "FuzzSupport.h"

#include "measure/DayLedger.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using fennimar::DayLedger;
    const auto decoded = DayLedger::decode(fennimar::fuzz::bytesOf(data, size));
    if (!decoded)
        return 0;
    const auto again = DayLedger::decode(DayLedger::encode(*decoded));
    fennimar::fuzz::require(again.ok() && *again == *decoded);
    for (const auto &[key, record] : *decoded)
        fennimar::fuzz::require(record.total() >= 0 && record.total() <= 24 * 3600);
    return 0;
}
