#include "platform/linux/wayland/SocketPeers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace fennimar::SocketPeers {

namespace {

// The inodes of the client ends of the connections accepted on the socket bound to path.
QSet<quint32> clientInodes(const QByteArray &path)
{
    QSet<quint32> peers;
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return peers;
    const timeval timeout{0, 500000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = AF_UNIX;
    message.request.udiag_states = ~0u;
    message.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
    if (::send(fd, &message, sizeof message, 0) < 0) {
        ::close(fd);
        return peers;
    }
    alignas(nlmsghdr) char buffer[32768];
    for (bool done = false; !done;) {
        int length = static_cast<int>(::recv(fd, buffer, sizeof buffer, 0));
        if (length <= 0)
            break;  // a timeout or an error: what was read so far is all there is
        for (auto *header = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(header, length);
             header = NLMSG_NEXT(header, length)) {
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                done = true;
                break;
            }
            const auto *diag = static_cast<const unix_diag_msg *>(NLMSG_DATA(header));
            int attributesLength = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *diag));
            QByteArray name;
            quint32 peer = 0;
            for (auto *attribute = reinterpret_cast<const rtattr *>(diag + 1); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                const auto *data = static_cast<const char *>(RTA_DATA(attribute));
                const int size = static_cast<int>(RTA_PAYLOAD(attribute));
                // A path comes with the terminating NUL that bind() was given, or without.
                if (attribute->rta_type == UNIX_DIAG_NAME)
                    name = QByteArray(data, size).split('\0').first();
                else if (attribute->rta_type == UNIX_DIAG_PEER && size >= 4)
                    std::memcpy(&peer, data, sizeof peer);
            }
            if (peer != 0 && name == path)
                peers.insert(peer);
        }
    }
    ::close(fd);
    return peers;
}

QString readComm(const QString &dir)
{
    QFile file(dir + QStringLiteral("/comm"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.read(64)).trimmed() : QString();
}

bool same(const QString &a, const QString &b)
{
    return !a.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

bool isProgram(const QString &appId, const SocketPeer &peer)
{
    if (appId.isEmpty())
        return false;
    const QString shortId = appId.section(QLatin1Char('.'), -1);
    const QString program = QFileInfo(peer.executable).fileName();
    return same(program, appId) || same(peer.comm, appId) ||
           (shortId != appId && (same(program, shortId) || same(peer.comm, shortId)));
}

std::vector<SocketPeer> connectedTo(const QString &path, const QString &appId)
{
    std::vector<SocketPeer> result;
    const QSet<quint32> inodes = clientInodes(QFile::encodeName(path));
    if (inodes.isEmpty())
        return result;
    const qint64 self = ::getpid();
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : pids) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString dir = QStringLiteral("/proc/") + entry;
        // Only the descriptors of processes whose program the app_id names are read: a walk of every
        // descriptor of every process costs tens of milliseconds.
        const SocketPeer candidate{pid, readComm(dir), QFileInfo(dir + QStringLiteral("/exe")).canonicalFilePath()};
        if (!isProgram(appId, candidate))
            continue;
        const QStringList fds = QDir(dir + QStringLiteral("/fd")).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            // QFile::symLinkTarget would make "socket:[N]" a path.
            char target[64];
            const ssize_t size =
                ::readlink(QFile::encodeName(dir + QStringLiteral("/fd/") + fd).constData(), target, sizeof target - 1);
            if (size <= 9 || std::strncmp(target, "socket:[", 8) != 0)
                continue;
            if (!inodes.contains(QByteArray(target + 8, static_cast<int>(size) - 9).toUInt()))
                continue;
            result.push_back(candidate);
            break;
        }
    }
    return result;
}

qint64 pidFor(const QString &appId, const std::vector<SocketPeer> &peers)
{
    qint64 pid = 0;
    QString executable;
    for (const SocketPeer &peer : peers) {
        if (!isProgram(appId, peer))
            continue;
        if (pid != 0 && peer.executable != executable)
            return 0;
        if (pid == 0 || peer.pid < pid)
            pid = peer.pid;
        executable = peer.executable;
    }
    return pid;
}

}  // namespace fennimar::SocketPeers
