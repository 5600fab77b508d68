#include "platform/linux/wayland/SwayIpc.h"

#include "core/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>

#include <array>
#include <cstring>

namespace fennimar {

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr int kMagicSize = 6;
constexpr int kHeaderSize = kMagicSize + 8;
constexpr quint32 kSubscribe = 2;
constexpr quint32 kGetTree = 4;
constexpr quint32 kEventBit = 0x80000000u;
// A reply larger than this is not sway talking; the connection is dropped rather than buffered.
constexpr quint32 kMaxPayload = 64u * 1024u * 1024u;

// The first node of the tree whose `flag` is true.
std::optional<QJsonObject> findFlagged(const QJsonObject &node, QLatin1String flag)
{
    if (node.value(flag).toBool())
        return node;
    for (const char *children : {"nodes", "floating_nodes"}) {
        const QJsonArray array = node.value(QLatin1String(children)).toArray();
        for (const QJsonValue &child : array) {
            if (auto found = findFlagged(child.toObject(), flag))
                return found;
        }
    }
    return std::nullopt;
}

}  // namespace

SwayIpc::SwayIpc(const QString &socketPath, Millis timeout) : m_socket(std::make_unique<QLocalSocket>())
{
    m_socket->connectToServer(socketPath);
    if (!m_socket->waitForConnected(static_cast<int>(timeout.count()))) {
        m_lost = true;
        return;
    }
    QObject::connect(m_socket.get(), &QLocalSocket::readyRead, m_socket.get(), [this] { readMessages(); });
    QObject::connect(m_socket.get(), &QLocalSocket::disconnected, m_socket.get(), [this] {
        if (!m_lost)
            Log::warn(QStringLiteral(
                "lost sway's IPC socket (sway quit or restarted) · no app in front until sway answers again; "
                "the agent looks for it again, less and less often (at least every 5 min)"));
        m_lost = true;
        m_focused.reset();
        m_inhibiting = false;
    });
    send(kSubscribe, QByteArrayLiteral(R"(["window","workspace"])"));
    send(kGetTree, {});
    m_treePending = true;
}

SwayIpc::~SwayIpc()
{
    // Our own close is no loss: the socket says "disconnected" as it is destroyed.
    QObject::disconnect(m_socket.get(), nullptr, nullptr, nullptr);
}

bool SwayIpc::connected() const
{
    return !m_lost && m_socket->state() == QLocalSocket::ConnectedState;
}

void SwayIpc::send(quint32 type, const QByteArray &payload)
{
    QByteArray message(kMagic, kMagicSize);
    const auto length = static_cast<quint32>(payload.size());
    message.append(reinterpret_cast<const char *>(&length), 4);
    message.append(reinterpret_cast<const char *>(&type), 4);
    message.append(payload);
    m_socket->write(message);
    m_socket->flush();
}

void SwayIpc::pump()
{
    if (m_lost)
        return;
    // Qt moves bytes from the socket into its buffer only on the event loop or on a wait.
    m_socket->waitForReadyRead(0);
    readMessages();
}

void SwayIpc::readMessages()
{
    m_buffer.append(m_socket->readAll());
    bool askTree = false;
    while (m_buffer.size() >= kHeaderSize) {
        // Copied out byte by byte: a pointer into the buffer makes g++ -fsanitize warn falsely.
        std::array<char, kHeaderSize> header{};
        for (int i = 0; i < kHeaderSize; ++i)
            header[static_cast<size_t>(i)] = m_buffer.at(i);
        quint32 length = 0, type = 0;
        std::memcpy(&length, header.data() + kMagicSize, 4);
        std::memcpy(&type, header.data() + kMagicSize + 4, 4);
        if (std::memcmp(header.data(), kMagic, kMagicSize) != 0 || length > kMaxPayload) {
            Log::warn(QStringLiteral("sway's IPC socket sent something that is not an IPC message · dropped it"));
            m_lost = true;
            m_focused.reset();
            m_inhibiting = false;
            m_socket->abort();
            return;
        }
        if (static_cast<quint32>(m_buffer.size()) < kHeaderSize + length)
            break;  // the rest comes with the next read; the events before it still ask for a tree
        const QByteArray payload = m_buffer.mid(kHeaderSize, static_cast<qsizetype>(length));
        m_buffer.remove(0, kHeaderSize + static_cast<qsizetype>(length));
        if (type & kEventBit) {
            askTree = true;
        } else if (type == kGetTree) {
            m_treePending = false;
            const QJsonObject tree = QJsonDocument::fromJson(payload).object();
            m_focused = focusedView(tree);
            m_inhibiting = findFlagged(tree, QLatin1String("inhibit_idle")).has_value();
        }
    }
    // Every window or workspace change is answered by one fresh tree: one rule for focus, close,
    // an emptied workspace and the locker, and a consistent snapshot rather than a half-applied event.
    if (askTree)
        this->askTree();
}

void SwayIpc::askTree()
{
    if (m_treePending || !connected())
        return;
    send(kGetTree, {});
    m_treePending = true;
}

std::optional<SwayView> SwayIpc::focusedView(const QJsonObject &tree)
{
    const std::optional<QJsonObject> node = findFlagged(tree, QLatin1String("focused"));
    if (!node)
        return std::nullopt;
    const QString type = node->value(QStringLiteral("type")).toString();
    if (type != QLatin1String("con") && type != QLatin1String("floating_con"))
        return std::nullopt;
    const QJsonObject props = node->value(QStringLiteral("window_properties")).toObject();
    SwayView view;
    view.appId = node->value(QStringLiteral("app_id")).toString();
    view.wmClass = props.value(QStringLiteral("class")).toString();
    view.wmInstance = props.value(QStringLiteral("instance")).toString();
    view.title = node->value(QStringLiteral("name")).toString();
    view.pid = node->value(QStringLiteral("pid")).toInteger();
    view.inhibitingIdle = node->value(QStringLiteral("inhibit_idle")).toBool();
    if (view.appId.isEmpty() && view.wmClass.isEmpty() && view.pid == 0)
        return std::nullopt;  // a split container, not a window
    return view;
}

}  // namespace fennimar
