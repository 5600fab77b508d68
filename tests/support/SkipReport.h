#pragma once

namespace fennimar::test {

// A skipped case exits 0, so CTest shows its program as passed. Called after InitGoogleTest, this prints
// each skipped case as "skipped case: PROGRAM Suite.Case · reason" (scripts/test.sh lists them at the end);
// skipVerdict(RUN_ALL_TESTS()) is then 1 when, under CI (CI=true), a case skipped that
// tests/expected-skips.txt does not name.
void reportSkips(const char *argv0);
int skipVerdict(int result);

}  // namespace fennimar::test
