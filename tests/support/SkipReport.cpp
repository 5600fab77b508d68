#include "tests/support/SkipReport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace fennimar::test {

SkipReport &SkipReport::install(const char *argv0)
{
    auto *report = new SkipReport;
    report->m_program = std::strrchr(argv0, '/') ? std::strrchr(argv0, '/') + 1 : argv0;
    // One case a line, then why it may skip; an entry without a reason allows nothing.
    std::ifstream list(FENNIMAR_EXPECTED_SKIPS);
    for (std::string line; std::getline(list, line);)
        if (const auto space = line.find(' '); line[0] != '#' && line.find_first_not_of(' ', space) != line.npos)
            report->m_expected.insert(line.substr(0, space));
    ::testing::UnitTest::GetInstance()->listeners().Append(report);
    return *report;
}

void SkipReport::OnTestEnd(const ::testing::TestInfo &info)
{
    const ::testing::TestResult &result = *info.result();
    if (!result.Skipped())
        return;
    std::string reason;
    for (int i = 0; i < result.total_part_count(); ++i)
        if (result.GetTestPartResult(i).skipped())
            reason += result.GetTestPartResult(i).message();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    const std::string name = std::string(info.test_suite_name()) + '.' + info.name();
    std::printf("skipped case: %s %s · %s\n", m_program.c_str(), name.c_str(), reason.c_str());
    const char *ci = std::getenv("CI");
    if (ci && std::strcmp(ci, "true") == 0 && !m_expected.contains(name))
        m_unexpected.push_back(name);
}

int SkipReport::verdict(int result) const
{
    for (const std::string &name : m_unexpected)
        std::printf("FAILED: %s skipped under CI and is not in tests/expected-skips.txt\n", name.c_str());
    std::fflush(stdout);
    return m_unexpected.empty() ? result : 1;
}

}  // namespace fennimar::test
