#include "platform/macos/AXElementTree.h"

#include "platform/macos/CFHelpers.h"

namespace fennimar::macos {

namespace {

class AXElement final : public ElementTree::Element {
public:
    AXElement(CFPtr<AXUIElementRef> ref, std::shared_ptr<AXElementTree::ReadState> read, Clock &clock)
        : m_ref(std::move(ref)), m_read(std::move(read)), m_clock(clock)
    {
    }

    ElementTree::Value attribute(const QString &name) const override
    {
        AXElementTree::ReadState &read = *m_read;
        if (read.stopped)
            return {};
        if (m_clock.monotonic() >= read.deadline) {
            read.stopped = read.overBudget = true;
            return {};
        }
        ++read.requests;
        // The SDK's kAX...Attribute constants are these same strings; making one costs far less than
        // the request it names.
        const auto cfName = toCFString(name);
        CFTypeRef raw = nullptr;
        const AXError error = AXUIElementCopyAttributeValue(m_ref.get(), cfName.get(), &raw);
        const auto value = CFPtr<CFTypeRef>::adopt(raw);
        if (error == kAXErrorCannotComplete)
            read.stopped = read.cannotComplete = true;
        else if (error == kAXErrorAPIDisabled)
            read.stopped = read.refused = true;
        if (error != kAXErrorSuccess || !value)
            return {};
        return convert(value.get());
    }

private:
    ElementTree::Value convert(CFTypeRef value) const
    {
        const CFTypeID type = CFGetTypeID(value);
        if (type == AXUIElementGetTypeID())
            return wrap(static_cast<AXUIElementRef>(value));
        if (type == CFArrayGetTypeID()) {
            const auto array = static_cast<CFArrayRef>(value);
            ElementTree::Elements elements;
            const CFIndex count = CFArrayGetCount(array);
            elements.reserve(static_cast<std::size_t>(count));
            for (CFIndex i = 0; i < count; ++i) {
                const auto item = static_cast<CFTypeRef>(CFArrayGetValueAtIndex(array, i));
                if (item && CFGetTypeID(item) == AXUIElementGetTypeID())
                    elements.push_back(wrap(static_cast<AXUIElementRef>(item)));
            }
            return elements;
        }
        if (auto string = stringValue(value))
            return *string;
        if (auto url = urlValue(value))
            return *url;
        return {};
    }

    // Children are borrowed from the value that holds them, which is released after the request.
    ElementTree::ElementPtr wrap(AXUIElementRef ref) const
    {
        return std::make_shared<AXElement>(CFPtr<AXUIElementRef>::retain(ref), m_read, m_clock);
    }

    CFPtr<AXUIElementRef> m_ref;
    std::shared_ptr<AXElementTree::ReadState> m_read;
    Clock &m_clock;
};

}  // namespace

AXElementTree::AXElementTree(Clock &clock) : AXElementTree(clock, Options{}) {}

AXElementTree::AXElementTree(Clock &clock, Options options)
    : m_clock(clock), m_options(options), m_read(std::make_shared<ReadState>())
{
    const auto systemWide = CFPtr<AXUIElementRef>::adopt(AXUIElementCreateSystemWide());
    if (systemWide)
        AXUIElementSetMessagingTimeout(systemWide.get(), m_options.requestTimeout);
}

AXElementTree::~AXElementTree() = default;

bool AXElementTree::isTrusted()
{
    return AXIsProcessTrusted() != 0;
}

ElementTree::ElementPtr AXElementTree::application(qint64 pid)
{
    // Elements of an earlier read keep their own state; this read starts afresh.
    m_read = std::make_shared<ReadState>();
    m_read->deadline = m_clock.monotonic() + m_options.readBudget;
    if (pid <= 0)
        return nullptr;
    auto ref = CFPtr<AXUIElementRef>::adopt(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
    if (!ref)
        return nullptr;
    return std::make_shared<AXElement>(std::move(ref), m_read, m_clock);
}

const AXElementTree::ReadState &AXElementTree::lastRead() const
{
    return *m_read;
}

}  // namespace fennimar::macos
