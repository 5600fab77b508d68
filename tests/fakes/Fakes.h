#pragma once

#include "platform/Accessibility.h"
#include "platform/AppCatalog.h"
#include "platform/Desktop.h"
#include "platform/DeviceFacts.h"
#include "platform/LoginService.h"
#include "platform/SecretStore.h"

#include <QHash>

#include <functional>
#include <map>

namespace fennimar::test {

// Accessibility with a scripted address per process id; an unscripted pid has no focused window.
class FakeAccessibility : public Accessibility {
public:
    bool trusted = true;
    QHash<qint64, AddressOutcome> addresses;
    bool isTrusted() override { return trusted; }
    void requestTrust() override {}
    AddressOutcome readAddress(qint64 pid) override
    {
        const auto noWindow = AddressOutcome::unreadable(QString::fromLatin1(AddressOutcome::noFocusedWindow));
        return trusted ? addresses.value(pid, noWindow) : AddressOutcome::noPermission();
    }
    bool openSettings() override { return false; }
};

// A catalog with a scripted installed list and descriptions keyed by identifier.
class FakeAppCatalog : public AppCatalog {
public:
    std::vector<SeenApp> installed;
    QHash<QString, SeenApp> described;
    std::vector<SeenApp> installedApps() override { return installed; }
    std::optional<SeenApp> describe(const RunningApp &app) override
    {
        return described.contains(app.identifier) ? std::optional(described.value(app.identifier)) : std::nullopt;
    }
};

// A desktop whose answers are set by the test (or by a script between clock steps).
class FakeDesktop : public Desktop {
public:
    std::optional<RunningApp> front;
    std::optional<double> idleSeconds = 0.0;      // nothing: unknown
    std::function<std::optional<double>()> idle;  // when set, the time since input, instead of idleSeconds
    bool locked = false;
    QString problem;  // what samplingProblem() answers
    int idleCalls = 0;
    std::optional<RunningApp> frontmostApp() override { return front; }
    std::optional<double> secondsSinceInput() override { return ++idleCalls, idle ? idle() : idleSeconds; }
    bool screenLocked() override { return locked; }
    QString samplingProblem() override { return problem; }
    qint64 inhibitorPid = 0;  // the process holding a video inhibitor; 0: none
    bool frontAppWatching(const RunningApp &f) override { return inhibitorPid && f.pid == inhibitorPid; }
    bool hidden = false;  // what inputHidden() answers
    bool inputHidden() override { return hidden; }
};

// A laptop's fixed facts.
class FakeDeviceFacts final : public DeviceFacts {
public:
    QString vendor() override { return QStringLiteral("Framework"); }
    QString model() override { return QStringLiteral("Laptop 13"); }
    bool hasInternalBattery() override { return true; }
    QString osVersion() override { return QStringLiteral("12"); }
    QString computerName() override { return QStringLiteral("kids-pc"); }
    QString userName() override { return QStringLiteral("robin"); }
};

// A scriptable login registration counting its calls; (un)registering sets Enabled/NotRegistered as real ones.
class FakeLoginService final : public LoginService {
public:
    Registration current = Registration::NotRegistered;
    QString registerFailure;  // when not empty, registration fails with this reason
    int registerCalls = 0, unregisterCalls = 0;
    Registration status() override { return current; }
    Status registerService() override { return ++registerCalls, change(registerFailure, Registration::Enabled); }
    Status unregisterService() override { return ++unregisterCalls, change({}, Registration::NotRegistered); }
    void openSettings() override {}

private:
    Status change(const QString &failure, Registration next)
    {
        current = failure.isEmpty() ? next : current;
        return failure.isEmpty() ? Status() : Status::failure(failure);
    }
};

// An in-memory secret store: locked (reads Locked, writes fail), unavailable, or failing writes. Never suspends.
class FakeSecretStore final : public SecretStore {
public:
    bool locked = false, unavailable = false;
    QString writeFailure;               // when not empty, writes fail with this reason
    QString readFailure;                // when not empty, reads fail with ReadError::Other and this reason
    int removes = 0, falselyEmpty = 0;  // the next falselyEmpty reads answer NotFound
    std::map<std::pair<QString, QString>, QByteArray> secrets;
    std::function<void()> changed;
    void watchChanges(std::function<void()> listener) override { changed = std::move(listener); }
    QCoro::Task<ReadResult> read(QString service, QString account) override
    {
        if (unavailable || locked)
            co_return ReadResult{std::nullopt, unavailable ? ReadError::Unavailable : ReadError::Locked, refusal()};
        if (!readFailure.isEmpty())
            co_return ReadResult{std::nullopt, ReadError::Other, readFailure};
        const auto it = secrets.find({service, account});
        if (it == secrets.end() || (falselyEmpty > 0 && falselyEmpty--))
            co_return ReadResult{std::nullopt, ReadError::NotFound, QStringLiteral("no secret is stored")};
        co_return ReadResult{it->second, ReadError::None, {}};
    }
    QCoro::Task<Status> write(QString service, QString account, QByteArray secret) override
    {
        const QString why = refusal().isEmpty() ? writeFailure : refusal();
        if (why.isEmpty())
            secrets[{service, account}] = secret;
        co_return why.isEmpty() ? Status() : Status::failure(why);
    }
    QCoro::Task<Status> remove(QString service, QString account) override
    {
        ++removes;
        if (refusal().isEmpty())
            secrets.erase({service, account});
        co_return refusal().isEmpty() ? Status() : Status::failure(refusal());
    }

private:
    QString refusal() const
    {
        return unavailable ? QStringLiteral("no secret store is running")
                           : (locked ? QStringLiteral("the secret store is locked") : QString());
    }
};

}  // namespace fennimar::test
