#include "platform/macos/MacAccessibility.h"

#include "platform/BrowserURLReader.h"
#include "platform/macos/CFHelpers.h"

namespace fennimar::macos {

MacAccessibility::MacAccessibility(Clock &clock, std::function<bool(const QUrl &)> openUrl,
                                   AXElementTree::Options options)
    : m_tree(clock, options), m_openUrl(std::move(openUrl))
{
}

bool MacAccessibility::isTrusted()
{
    return AXIsProcessTrusted() != 0;
}

void MacAccessibility::requestTrust()
{
    const auto options = makeDictionary({{kAXTrustedCheckOptionPrompt, kCFBooleanTrue}});
    AXIsProcessTrustedWithOptions(options.get());
}

AddressOutcome MacAccessibility::readAddress(qint64 pid)
{
    AddressOutcome outcome = BrowserURLReader::read(m_tree, pid);
    const AXElementTree::ReadState &read = m_tree.lastRead();
    if (read.refused)
        return AddressOutcome::noPermission();
    // The walk counts the elements it could no longer ask about as examined; a browser that stopped
    // answering has not shown a page too large to scan.
    if ((read.cannotComplete || read.overBudget) && outcome.kind == AddressOutcome::Kind::Unreadable)
        return AddressOutcome::unreadable(QLatin1String(AddressOutcome::noAddressFound));
    return outcome;
}

bool MacAccessibility::openSettings()
{
    return m_openUrl && m_openUrl(QUrl(QString::fromLatin1(settingsUrl)));
}

}  // namespace fennimar::macos
