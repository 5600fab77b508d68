#pragma once

#include "platform/ElementTree.h"
#include "core/Clock.h"

#include <memory>

namespace fennimar::macos {

// Other applications' interface trees through the macOS Accessibility API, for the reference address
// walk. Each application(pid) starts one read; the elements reached from it share that read's bounds:
//  - every request waits at most requestTimeout for the application (set once, process-wide, on the
//    system-wide element, because a timeout set on an element is not inherited by its children);
//  - after the first request that the application could not complete (kAXErrorCannotComplete: it
//    is hung or too slow) or that the system refused (kAXErrorAPIDisabled: trust withdrawn), every
//    further request of the read answers "no value" at once, so a hung browser costs one timeout per
//    read, not one per element;
//  - once readBudget has passed since the read began, the same: the walk's three requests per element
//    over up to 1500 elements must not hold the sampler's tick for seconds.
// Main thread only; the elements must not outlive the tree.
class AXElementTree final : public ElementTree {
public:
    struct Options {
        float requestTimeout = 0.2f;  // seconds
        Millis readBudget{400};
    };
    explicit AXElementTree(Clock &clock);
    AXElementTree(Clock &clock, Options options);
    ~AXElementTree() override;

    // AXIsProcessTrusted: a local check of this process's grant, microseconds.
    bool isTrusted() override;
    // The application's element, or null for a pid of 0 or below. Starts a new read.
    ElementPtr application(qint64 pid) override;

    // How the read begun by the last application() went, for the caller's outcome and its log.
    struct ReadState {
        Millis deadline{0};
        bool stopped = false;  // no more requests in this read
        bool refused = false;  // kAXErrorAPIDisabled: this process is not trusted
        bool cannotComplete = false;
        bool overBudget = false;
        int requests = 0;
    };
    const ReadState &lastRead() const;

private:
    Clock &m_clock;
    Options m_options;
    std::shared_ptr<ReadState> m_read;
};

}  // namespace fennimar::macos
