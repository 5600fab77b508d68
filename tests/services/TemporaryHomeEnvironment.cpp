#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// The log file and the settings store fix their paths at first use, so every test in this binary
// runs in one temporary home set up before the first test: nothing reaches the real home.
class TemporaryHomeEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { m_home = std::make_unique<fennimar::test::TempHome>(); }
    void TearDown() override { m_home.reset(); }

private:
    std::unique_ptr<fennimar::test::TempHome> m_home;
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new TemporaryHomeEnvironment);

}  // namespace
