#include "tests/support/SkipReport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace fennimar::test {
namespace {

struct SkipListener : ::testing::EmptyTestEventListener {
    const char *program = "";
    std::set<std::string> expected;
    int unexpected = 0;

    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        const ::testing::TestResult &result = *info.result();
        std::string name = std::string(info.test_suite_name()) + '.' + info.name(), reason;
        for (int i = 0; result.Skipped() && i < result.total_part_count(); ++i)
            reason += result.GetTestPartResult(i).skipped() ? result.GetTestPartResult(i).message() : "";
        if (!result.Skipped())
            return;
        const char *ci = std::getenv("CI");
        const bool fails = ci && std::strcmp(ci, "true") == 0 && !expected.contains(name);
        unexpected += fails ? 1 : 0;
        std::printf("skipped case: %s %s · %s%s\n", program, name.c_str(), reason.c_str(),
                    fails ? "\nFAILED: skipped under CI and not in tests/expected-skips.txt" : "");
    }
};

SkipListener *listener = nullptr;  // owned by GoogleTest's listeners

}  // namespace

void reportSkips(const char *argv0)
{
    listener = new SkipListener;
    listener->program = std::strrchr(argv0, '/') ? std::strrchr(argv0, '/') + 1 : argv0;
    // One case a line, then why it may skip; an entry without a reason allows nothing.
    std::ifstream list(FENNIMAR_EXPECTED_SKIPS);
    for (std::string line; std::getline(list, line);)
        if (const auto space = line.find(' '); line[0] != '#' && line.find_first_not_of(' ', space) != line.npos)
            listener->expected.insert(line.substr(0, space));
    ::testing::UnitTest::GetInstance()->listeners().Append(listener);
}

int skipVerdict(int result)
{
    return listener->unexpected > 0 ? 1 : result;
}

}  // namespace fennimar::test
