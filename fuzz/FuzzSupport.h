#pragma once

#include <QByteArray>
#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace fennimar::fuzz {

// Some Qt classes (text codecs, the URL parser's IDNA tables) expect an application object; one is
// made once per fuzzing process and never destroyed, as in a normal run.
inline void startQt()
{
    static int argc = 1;
    static char name[] = "fennimar-fuzz";
    static char *argv[] = {name, nullptr};
    static auto *app = new QCoreApplication(argc, argv);
    (void)app;
}

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// A broken property is a finding like a crash: abort so libFuzzer keeps the input.
inline void require(bool holds)
{
    if (!holds)
        std::abort();
}

}  // namespace fennimar::fuzz
