#include "services/LockFileInstance.h"

#include "core/Log.h"
#include "platform/PlatformTraits.h"

#include <QDir>
#include <QFileInfo>

namespace fennimar {

LockFileInstance::LockFileInstance(const QString &directory)
    : m_path(directory + QLatin1Char('/') + QLatin1String(platform::AgentBundleID) + QStringLiteral(".lock"))
{
}

LockFileInstance::~LockFileInstance() = default;

bool LockFileInstance::claim()
{
    if (m_held)
        return true;
    QDir().mkpath(QFileInfo(m_path).path());
    m_lock = std::make_unique<QLockFile>(m_path);
    // By default a lock older than 30 s counts as stale, and only the advisory lock then keeps a
    // second copy out; where that lock does not work (some network homes) a long-running first
    // copy would lose its claim. Only a dead owner makes the lock stale here.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        m_held = true;
        return true;
    }
    if (m_lock->error() == QLockFile::LockFailedError)
        return false;
    Log::warn(QStringLiteral("cannot check for another running copy · %1 · running anyway").arg(m_path));
    return true;
}

qint64 LockFileInstance::holderPid() const
{
    qint64 pid = 0;
    if (m_lock && !m_held)
        m_lock->getLockInfo(&pid, nullptr, nullptr);
    return pid;
}

qint64 LockFileInstance::currentHolder() const
{
    qint64 pid = 0;
    QLockFile(m_path).getLockInfo(&pid, nullptr, nullptr);
    return pid;
}

}  // namespace fennimar
