#include "platform/linux/atspi/AtspiAddressReader.h"

namespace fennimar::atspi {

namespace {

AddressOutcome noAddress()
{
    return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noAddressFound));
}

}  // namespace

AtspiAddressReader::AtspiAddressReader(AtspiCaller &caller, WindowMemory &memory, Millis now,
                                       std::function<QString()> activeWindowTitle, Limits limits)
    : m_caller(caller),
      m_memory(memory),
      m_now(now),
      m_activeWindowTitle(std::move(activeWindowTitle)),
      m_limits(limits)
{
}

AddressOutcome AtspiAddressReader::read()
{
    const auto frame = focusedFrame();
    if (!frame) {
        if (m_caller.failure() != AtspiCaller::Failure::None)
            return noAddress();
        return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noFocusedWindow));
    }
    if (m_limits.walkOnly)
        return walk(*frame);

    const auto bar = addressBar(*frame);
    if (bar) {
        const auto barStates = m_caller.states(*bar);
        if (!barStates || hasState(*barStates, State::Defunct)) {
            m_memory.bars.erase(*frame);  // gone with a rebuilt toolbar: look again next time
            if (m_caller.stopped())
                return noAddress();
        } else if (hasState(*barStates, State::Focused)) {
            return AddressOutcome::editing();
        }
    }
    if (m_caller.stopped())
        return noAddress();

    const auto address = documentAddressIn(*frame);
    if (address)
        return AddressOutcome::url(*address);
    if (m_noCollection)
        return walk(*frame);
    if (m_caller.failure() != AtspiCaller::Failure::None)
        return noAddress();

    // No page yet (a new tab, a loading window): an address bar holding an address still says
    // where the user is.
    if (bar && m_memory.bars.count(*frame)) {
        const auto text = m_caller.text(*bar, m_limits.maxTextChars);
        if (text && looksLikeAddress(*text))
            return AddressOutcome::url(text->trimmed());
    }
    return noAddress();
}

std::optional<QString> AtspiAddressReader::focusedFrame()
{
    const auto frames = m_caller.children(RootPath);
    if (!frames)
        return std::nullopt;
    for (const ObjectRef &frame : *frames) {
        if (frame.isNull())
            continue;
        const auto states = m_caller.states(frame.path.path());
        if (!states) {
            if (m_caller.stopped())
                return std::nullopt;
            continue;
        }
        if (hasState(*states, State::Active))
            return frame.path.path();
    }
    // Chromium's ACTIVE state can lag behind the window manager, and on Wayland it never comes; the
    // window title cannot. Chromium adds its tab's state to the frame's name only ("Music - Audio
    // playing - Chromium" for the title "Music - Chromium"), so a frame whose name has the title's
    // page before and its browser after such an insert is that window too, when it is the only one.
    // With no title to go by, a browser in front whose windows have one name among them has that
    // window in front (its unnamed frames are never windows of their own).
    const QString title = m_activeWindowTitle ? m_activeWindowTitle() : QString();
    const qsizetype cut = title.lastIndexOf(QLatin1String(" - "));
    const QString page = title.left(cut + 3), browser = title.mid(cut);
    std::optional<QString> named, loose;
    int namedCount = 0, looseCount = 0;
    for (const ObjectRef &frame : *frames) {
        if (frame.isNull())
            continue;
        const auto name = m_caller.name(frame.path.path());
        if (m_caller.stopped())
            return std::nullopt;
        if (!name || name->isEmpty())
            continue;
        if (!title.isEmpty() && *name == title)
            return frame.path.path();
        if (cut > 0 && name->startsWith(page) && name->endsWith(browser) && name->size() > title.size())
            ++looseCount, loose = frame.path.path();
        ++namedCount, named = frame.path.path();
    }
    if (looseCount == 1)
        return loose;
    if (title.isEmpty() && namedCount == 1)
        return named;
    return std::nullopt;
}

std::optional<QString> AtspiAddressReader::addressBar(const QString &frame)
{
    const auto known = m_memory.bars.find(frame);
    if (known != m_memory.bars.end() && (known->second.path || m_now - known->second.searchedAt < m_limits.barRetry))
        return known->second.path;
    const auto found = m_caller.matches(frame, addressBarRule(), 1);
    if (!found)
        return std::nullopt;  // not remembered: a failed search says nothing about the window
    WindowMemory::Bar bar;
    bar.searchedAt = m_now;
    if (!found->isEmpty() && !found->first().isNull())
        bar.path = found->first().path.path();
    m_memory.bars[frame] = bar;
    return bar.path;
}

std::optional<QString> AtspiAddressReader::addressOf(const QString &document)
{
    const auto attributes = m_caller.attributes(document, Document);
    if (!attributes)
        return std::nullopt;
    return atspi::documentAddress(*attributes);
}

std::optional<QString> AtspiAddressReader::documentAddressIn(const QString &frame)
{
    // count 1 keeps the search short: the bridge stops at the first match.
    const auto first = m_caller.matches(frame, showingDocumentRule(), 1);
    if (!first) {
        m_noCollection = m_caller.failure() == AtspiCaller::Failure::Unsupported;
        return std::nullopt;
    }
    if (first->isEmpty())
        return std::nullopt;
    const auto address = addressOf(first->first().path.path());
    if (!address || !isBrowserInterfaceDocument(*address))
        return address;
    // The browser's own dropdown came first: look a little further for the page.
    const auto more = m_caller.matches(frame, showingDocumentRule(), 4);
    if (!more)
        return std::nullopt;
    for (qsizetype i = 1; i < more->size(); ++i) {
        const auto next = addressOf(more->at(i).path.path());
        if (next && !isBrowserInterfaceDocument(*next))
            return next;
    }
    return std::nullopt;
}

AddressOutcome AtspiAddressReader::stoppedWalk() const
{
    // A walk that spends the read's budget had more tree to see than time to see it.
    if (m_caller.failure() == AtspiCaller::Failure::OutOfTime)
        return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::pageTooLarge));
    return noAddress();
}

AddressOutcome AtspiAddressReader::walk(const QString &frame)
{
    QList<QString> level = {frame};
    int examined = 0;
    std::optional<QString> candidate;
    std::optional<QString> candidateField;
    for (int depth = 0; !level.isEmpty() && depth < m_limits.maxDepth && examined < m_limits.maxElements; ++depth) {
        QList<QString> next;
        for (const QString &path : level) {
            if (examined >= m_limits.maxElements)
                break;
            ++examined;
            const auto role = m_caller.role(path);
            if (m_caller.stopped())
                return stoppedWalk();
            if (!role)
                continue;
            if (*role == static_cast<uint>(Role::DocumentWeb)) {
                const auto states = m_caller.states(path);
                if (states && hasState(*states, State::Showing)) {
                    const auto address = addressOf(path);
                    if (address && !isBrowserInterfaceDocument(*address))
                        return AddressOutcome::url(*address);
                }
            } else if (!candidate &&
                       (*role == static_cast<uint>(Role::Entry) || *role == static_cast<uint>(Role::ComboBox))) {
                const auto text = m_caller.text(path, m_limits.maxTextChars);
                if (text && looksLikeAddress(*text)) {
                    candidate = text->trimmed();
                    candidateField = path;
                }
            }
            const auto kids = m_caller.children(path);
            if (m_caller.stopped())
                return stoppedWalk();
            if (kids) {
                // Only as many as the walk could still examine: an element may claim a million.
                for (const ObjectRef &kid : *kids) {
                    if (next.size() >= m_limits.maxElements - examined)
                        break;
                    if (!kid.isNull())
                        next.append(kid.path.path());
                }
            }
        }
        level = std::move(next);
    }
    if (candidate) {
        const auto states = m_caller.states(*candidateField);
        if (states && hasState(*states, State::Focused))
            return AddressOutcome::editing();
        return AddressOutcome::url(*candidate);
    }
    if (examined >= m_limits.maxElements)
        return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::pageTooLarge));
    return noAddress();
}

}  // namespace fennimar::atspi
