#pragma once

#include "core/Clock.h"
#include "platform/Accessibility.h"

#include <memory>

namespace fennimar {

// The address last read in a browser's focused window, and when (the clock's monotonic time).
struct FocusedPage {
    qint64 pid = 0;
    QString address;  // empty when the last read gave none
    Millis readAt{0};
};

// The session's accessibility reader, remembering the last address it read, so that the watching
// desktop can tell whether a browser's film plays in the page in front: the sampler reads the page
// only once it finds the user present or watching, after the desktop has answered. Main thread only.
class PageMemory final : public Accessibility {
public:
    PageMemory(Clock &clock, std::unique_ptr<Accessibility> reader) : m_clock(clock), m_reader(std::move(reader)) {}

    // The last read, shared: its reader may keep it beyond this object's life. Free.
    std::shared_ptr<const FocusedPage> lastRead() const { return m_last; }

    bool isTrusted() override { return m_reader->isTrusted(); }
    void requestTrust() override { m_reader->requestTrust(); }
    bool requestShowsPrompt() const override { return m_reader->requestShowsPrompt(); }
    bool openSettings() override { return m_reader->openSettings(); }
    // The reader's answer, remembered; what is not an address (a half-typed one, none) forgets it.
    AddressOutcome readAddress(qint64 pid) override
    {
        AddressOutcome outcome = m_reader->readAddress(pid);
        *m_last = {pid, outcome.kind == AddressOutcome::Kind::Url ? outcome.text : QString(), m_clock.monotonic()};
        return outcome;
    }

private:
    Clock &m_clock;
    std::unique_ptr<Accessibility> m_reader;
    std::shared_ptr<FocusedPage> m_last = std::make_shared<FocusedPage>();
};

}  // namespace fennimar
