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
        return walk(*frame, false);
    if (!offersCollection(*frame))
        return m_caller.stopped() ? noAddress() : readWithoutSearch(*frame);

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
    if (m_memory.collection == false)
        return walk(*frame, true);
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
        if (m_caller.failure() == AtspiCaller::Failure::Unsupported)
            m_memory.collection = false;
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

bool AtspiAddressReader::offersCollection(const QString &frame)
{
    // Qt's bridge has no Collection and answers a search with "no such object", which says nothing
    // an object's absence would not: its interfaces, asked once per application, tell.
    if (!m_memory.collection) {
        const auto reply = m_caller.call(frame, Accessible, QStringLiteral("GetInterfaces"));
        if (!reply || reply->isEmpty())
            return true;  // not known yet: the search's own answer decides
        m_memory.collection = reply->first().toStringList().contains(Collection);
    }
    return *m_memory.collection;
}

AddressOutcome AtspiAddressReader::readWithoutSearch(const QString &frame)
{
    // A walk costs hundreds of requests: the address field it found is read directly while it is
    // showing (each tab has its own), and the window is walked again once it is not, or after
    // barRetry when it holds no address (a new tab's empty bar must not cost a walk every read).
    const auto known = m_memory.bars.find(frame);
    if (known != m_memory.bars.end() && known->second.path) {
        const QString field = *known->second.path;
        const auto states = m_caller.states(field);
        if (states && hasState(*states, State::Showing) && !hasState(*states, State::Defunct)) {
            if (hasState(*states, State::Focused))
                return AddressOutcome::editing();
            const auto text = m_caller.text(field, m_limits.maxTextChars);
            if (text && looksLikeAddress(*text))
                return AddressOutcome::url(text->trimmed());
            if (m_now - known->second.searchedAt < m_limits.barRetry)
                return noAddress();
        }
        if (m_caller.stopped())
            return noAddress();
        m_memory.bars.erase(known);
    }
    return walk(frame, true);
}

AddressOutcome AtspiAddressReader::stoppedWalk(const QString &frame, const std::optional<QString> &field,
                                               bool rememberField)
{
    // A walk that spends the read's budget had more tree to see than time to see it. An address
    // field it found on the way is read directly from the next read on (Konqueror's tree takes
    // longer to walk than a read may last).
    if (field && rememberField && m_caller.failure() == AtspiCaller::Failure::OutOfTime)
        m_memory.bars[frame] = {field, m_now};
    if (m_caller.failure() == AtspiCaller::Failure::OutOfTime)
        return AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::pageTooLarge));
    return noAddress();
}

AddressOutcome AtspiAddressReader::walk(const QString &frame, bool rememberField)
{
    QList<QString> level = {frame};
    int examined = 0;
    std::optional<QString> candidate;
    std::optional<QString> candidateField;
    // GTK 4 gives every widget an element of its own: GNOME Web 48's address field sits 20 levels
    // down, where a walk that has found its field already would only go through page content.
    const auto deepest = [&] { return candidate ? m_limits.maxDepth : m_limits.maxFieldDepth; };
    for (int depth = 0; !level.isEmpty() && depth < deepest() && examined < m_limits.maxElements; ++depth) {
        QList<QString> next;
        for (const QString &path : level) {
            if (examined >= m_limits.maxElements)
                break;
            ++examined;
            const auto role = m_caller.role(path);
            if (m_caller.stopped())
                return stoppedWalk(frame, candidateField, rememberField);
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
                       (*role == static_cast<uint>(Role::Entry) || *role == static_cast<uint>(Role::ComboBox) ||
                        *role == static_cast<uint>(Role::Text))) {
                // Showing: Qt keeps every tab's address field in the tree, the hidden ones too.
                const auto text = m_caller.text(path, m_limits.maxTextChars);
                const auto states = text && looksLikeAddress(*text) ? m_caller.states(path) : std::nullopt;
                if (states && hasState(*states, State::Showing)) {
                    candidate = text->trimmed();
                    candidateField = path;
                }
            }
            const auto kids = m_caller.children(path);
            if (m_caller.stopped())
                return stoppedWalk(frame, candidateField, rememberField);
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
        if (rememberField)
            m_memory.bars[frame] = {candidateField, m_now};
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
