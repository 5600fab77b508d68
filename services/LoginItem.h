#pragma once

#include "platform/LoginService.h"

#include <QString>

namespace fennimar {

// Keeps the agent registered to start at login for the running version, re-registering once after
// an upgrade. The only memory is the setting "loginItem.registeredBundleVersion": the version whose
// registration last succeeded. Main thread only; every call is as cheap as the service's calls.
class LoginItem {
public:
    static constexpr const char *versionSettingKey = "loginItem.registeredBundleVersion";

    // "<short version>+<build>", e.g. "1.4.0+52"; an empty part becomes "0.1.0-dev" or "0".
    static QString bundleVersion(const QString &shortVersion, const QString &build);

    // service must outlive this object; version is the running build's bundleVersion().
    LoginItem(LoginService &service, QString version);

    // Makes sure the registration exists and belongs to this version. Returns true when it does
    // after the call. Does nothing while the user has to approve the item (one WARN line); with the
    // item enabled for another (or an unknown) version, unregisters and registers again. Failures
    // are logged and give false; the stored version then stays as it was, so the next launch tries
    // again.
    bool ensureRegistered();

    // The registration's status now (for the heartbeat and the menu). One service query.
    LoginService::Status status();

    // Opens the desktop's startup-applications settings; never fails, logs nothing itself.
    void openLoginItemsSettings();

private:
    // Registers, and on success records version. reason is "new" or "version changed".
    bool performRegister(const QString &version, const QString &reason);

    LoginService &m_service;
    QString m_version;
};

}  // namespace fennimar
