#pragma once

#include "platform/Accessibility.h"
#include "core/Clock.h"
#include "platform/macos/AXElementTree.h"

#include <QUrl>

#include <functional>

namespace fennimar::macos {

// Accessibility on macOS: the process's trust (TCC's Accessibility grant, which follows the code
// signature) and the reference address walk over the Accessibility API. Main thread only.
class MacAccessibility final : public Accessibility {
public:
    // openUrl: hands an address to the system (QDesktopServices::openUrl in the agent).
    MacAccessibility(Clock &clock, std::function<bool(const QUrl &)> openUrl, AXElementTree::Options options = {});

    // AXIsProcessTrusted: microseconds, no prompt.
    bool isTrusted() override;
    // AXIsProcessTrustedWithOptions with the prompt option: the system shows its dialog when the
    // process is not trusted yet and returns at once.
    void requestTrust() override;
    // macOS alerts on the first request of a process that is not trusted.
    bool requestShowsPrompt() const override { return true; }
    // The walk of the browser's focused window, bounded by the tree's request timeout and read
    // budget. NoPermission also when the system refuses a request during the read (the grant was
    // withdrawn after the trust check); "no address found" when the browser stopped answering or the
    // budget ran out before an address was found.
    AddressOutcome readAddress(qint64 pid) override;
    // System Settings > Privacy & Security > Accessibility.
    bool openSettings() override;

    static constexpr const char *settingsUrl =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

private:
    AXElementTree m_tree;
    std::function<bool(const QUrl &)> m_openUrl;
};

}  // namespace fennimar::macos
