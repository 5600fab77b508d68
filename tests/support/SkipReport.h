#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace fennimar::test {

// A skipped case exits 0, so CTest shows its program as passed: this listener prints each as
// "skipped case: PROGRAM Suite.Case · reason" (scripts/test.sh lists them at the end) and, under CI
// (CI=true), fails the program for one that tests/expected-skips.txt does not name.
class SkipReport : public ::testing::EmptyTestEventListener {
public:
    // Appended to GoogleTest's listeners, which own it; call after InitGoogleTest.
    static SkipReport &install(const char *argv0);
    // RUN_ALL_TESTS()'s result, or 1 when a case skipped under CI that the list does not name.
    int verdict(int result) const;
    void OnTestEnd(const ::testing::TestInfo &info) override;

private:
    std::string m_program;
    std::set<std::string> m_expected;
    std::vector<std::string> m_unexpected;
};

}  // namespace fennimar::test
