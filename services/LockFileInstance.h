#pragma once

#include "platform/SingleInstance.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace fennimar {

// The single-instance claim as a lock file "app.fennimar.Agent.lock" in the support directory,
// beside the ledger it protects: two copies that see the same ledger always meet at the same lock,
// whatever else differs in their environments. The file is held open with an advisory lock and
// not inherited by child processes; a file whose process is gone is stale and taken over.
class LockFileInstance : public SingleInstance {
public:
    // directory: the support directory, where the lock file goes.
    explicit LockFileInstance(const QString &directory);
    ~LockFileInstance() override;

    bool claim() override;
    QString location() const override { return m_path; }
    qint64 holderPid() const override;
    // The pid the lock file names now, read without taking the lock (0 when there is no file or it
    // names none), so that a copy that let go can see who took the lock next. It may name a process
    // that is gone. One small file read.
    qint64 currentHolder() const;

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};

}  // namespace fennimar
