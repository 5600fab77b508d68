#pragma once

#include "platform/SingleInstance.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace fennimar {

// The single-instance claim as a lock file: "app.fennimar.Agent.lock" in $XDG_RUNTIME_DIR (per
// user, on tmpfs, gone at logout), or in the support directory when the session has no runtime
// directory. The file is held open with an advisory lock and not inherited by child processes;
// a file whose process is gone is stale and taken over.
class LockFileInstance : public SingleInstance {
public:
    // directory: where the lock file goes; empty picks the default described above.
    explicit LockFileInstance(QString directory = {});
    ~LockFileInstance() override;

    bool claim() override;
    QString location() const override { return m_path; }

    static QString defaultDirectory();

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    bool m_held = false;
};

}  // namespace fennimar
