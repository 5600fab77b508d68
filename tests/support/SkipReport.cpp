#include "tests/support/SkipReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace fennimar::test {
namespace {

struct SkipListener : ::testing::EmptyTestEventListener {
    std::string program;
    std::set<std::string> expected;
    std::vector<std::string> unexpected;

    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        const ::testing::TestResult &result = *info.result();
        if (!result.Skipped())
            return;
        std::string reason;
        for (int i = 0; i < result.total_part_count(); ++i)
            reason += result.GetTestPartResult(i).skipped() ? result.GetTestPartResult(i).message() : "";
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        const std::string name = std::string(info.test_suite_name()) + '.' + info.name();
        std::printf("skipped case: %s %s · %s\n", program.c_str(), name.c_str(), reason.c_str());
        const char *ci = std::getenv("CI");
        if (ci && std::strcmp(ci, "true") == 0 && !expected.contains(name))
            unexpected.push_back(name);
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
    for (const std::string &name : listener->unexpected)
        std::printf("FAILED: %s skipped under CI and is not in tests/expected-skips.txt\n", name.c_str());
    std::fflush(stdout);
    return listener->unexpected.empty() ? result : 1;
}

}  // namespace fennimar::test
