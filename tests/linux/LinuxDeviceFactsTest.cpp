#include "platform/linux/LinuxDeviceFacts.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace fennimar::test {
namespace {

class Tree {
public:
    LinuxDeviceFacts::Roots roots() const
    {
        return {m_dir.filePath(QStringLiteral("sys")), m_dir.filePath(QStringLiteral("etc")),
                m_dir.filePath(QStringLiteral("proc"))};
    }
    void write(const QString &relative, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private:
    QTemporaryDir m_dir;
};

TEST(LinuxDeviceFactsTest, VendorAndModelSkipFirmwarePlaceholders)
{
    struct Case {
        QByteArray vendor, product, version, deviceTree;
        QString expectedVendor, expectedModel;
    };
    const std::vector<Case> cases = {
        {"Dell Inc.\n", "XPS 13 9310\n", "", "", QStringLiteral("Dell Inc."), QStringLiteral("XPS 13 9310")},
        {"To Be Filled By O.E.M.\n", "System Product Name\n", "", "", QString(), QString()},
        {"LENOVO\n", "20XW0026GE\n", "ThinkPad X1 Carbon Gen 9\n", "", QStringLiteral("LENOVO"),
         QStringLiteral("ThinkPad X1 Carbon Gen 9")},
        {"", "", "", QByteArray("Raspberry Pi 4 Model B Rev 1.4\0", 32), QString(),
         QStringLiteral("Raspberry Pi 4 Model B Rev 1.4")},
    };
    for (const Case &c : cases) {
        Tree tree;
        tree.write(QStringLiteral("sys/class/dmi/id/sys_vendor"), c.vendor);
        tree.write(QStringLiteral("sys/class/dmi/id/product_name"), c.product);
        tree.write(QStringLiteral("sys/class/dmi/id/product_version"), c.version);
        if (!c.deviceTree.isEmpty())
            tree.write(QStringLiteral("proc/device-tree/model"), c.deviceTree);
        LinuxDeviceFacts facts(QDBusConnection(QString()), tree.roots());
        EXPECT_EQ(facts.vendor(), c.expectedVendor) << c.vendor.constData();
        EXPECT_EQ(facts.model(), c.expectedModel) << c.product.constData();
    }
}

TEST(LinuxDeviceFactsTest, OnlyASystemBatteryMakesALaptop)
{
    Tree tree;
    LinuxDeviceFacts facts(QDBusConnection(QString()), tree.roots());
    EXPECT_FALSE(facts.hasInternalBattery()) << "no power_supply folder at all";
    tree.write(QStringLiteral("sys/class/power_supply/AC/type"), "Mains\n");
    tree.write(QStringLiteral("sys/class/power_supply/hidpp_battery_0/type"), "Battery\n");
    tree.write(QStringLiteral("sys/class/power_supply/hidpp_battery_0/scope"), "Device\n");
    EXPECT_FALSE(facts.hasInternalBattery()) << "a mouse battery";
    tree.write(QStringLiteral("sys/class/power_supply/BAT0/type"), "Battery\n");
    EXPECT_TRUE(facts.hasInternalBattery());
}

TEST(LinuxDeviceFactsTest, OsVersionAndNames)
{
    Tree tree;
    tree.write(QStringLiteral("etc/os-release"), "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nID=debian\n");
    tree.write(QStringLiteral("proc/sys/kernel/hostname"), "kidsbox\n");
    LinuxDeviceFacts facts(QDBusConnection(QString()), tree.roots());
    EXPECT_EQ(facts.osVersion(), QStringLiteral("12"));
    EXPECT_EQ(facts.computerName(), QStringLiteral("kidsbox"));
    tree.write(QStringLiteral("etc/machine-info"), "PRETTY_HOSTNAME=\"Kids' \\\"box\\\"\"\n");
    EXPECT_EQ(facts.computerName(), QStringLiteral("Kids' \"box\""));
    const passwd *me = getpwuid(geteuid());
    ASSERT_TRUE(me);
    EXPECT_EQ(facts.userName(), QString::fromLocal8Bit(me->pw_name));
}

}  // namespace
}  // namespace fennimar::test
