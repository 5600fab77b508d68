// A second agent process for the single-instance tests: claims the lock in argv[1], prints
// "claimed" or "refused", optionally starts a long-lived child (argv[2] == "child") that would
// keep an inherited lock alive, then waits to be killed.
#include "platform/LockFileInstance.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    fennimar::LockFileInstance instance(QString::fromLocal8Bit(argv[1]));
    const bool claimed = instance.claim();
    if (claimed && argc > 2 && QByteArrayView(argv[2]) == "child") {
        qint64 childPid = 0;
        QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("30")}, QString(), &childPid);
        std::printf("child %lld\n", static_cast<long long>(childPid));
    }
    std::printf("%s\n", claimed ? "claimed" : "refused");
    std::fflush(stdout);
    if (!claimed)
        return 1;
    for (;;)
        pause();
}
