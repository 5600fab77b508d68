// Feeds arbitrary bytes to the loader of "reported-apps.json"; a state that decodes must survive
// its own encoding.
#include "FuzzSupport.h"

#include "inventory/SeenAppsReporter.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fennimar::fuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using fennimar::SeenAppsReporter;
    const auto decoded = SeenAppsReporter::decode(fennimar::fuzz::bytesOf(data, size));
    if (!decoded)
        return 0;
    const auto again = SeenAppsReporter::decode(SeenAppsReporter::encode(*decoded));
    fennimar::fuzz::require(again.ok() && *again == *decoded);
    return 0;
}
