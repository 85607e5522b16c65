#include "text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ThrowOnFatal;

TEST(TextTest, AppendsAcrossManyGrowths) {
  Text text;
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    const std::string piece(static_cast<std::size_t>(i % 97),
                            char('a' + i % 26));
    text.append(piece);
    expected += piece;
  }
  text.append(std::string_view("\0\xff", 2));
  expected.append("\0\xff", 2);
  EXPECT_TRUE(text.view() == expected);
  EXPECT_GE(text.capacity(), text.size());
}

// Running out of memory ends the run with its message, never a crash.
TEST(TextTest, ImpossibleGrowthIsOutOfMemory) {
  const ThrowOnFatal fatal;
  Text text;
  text.append("x");
  const Outcome outcome = run_captured([&] { text.reserve_more(SIZE_MAX); });
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_NO_MEMORY);
  EXPECT_EQ(outcome.fatal->message, "Chyba. Nedostatek pameti. \n");
  EXPECT_EQ(text.view(), "x");
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MIMEUNPACK_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(MIMEUNPACK_TEST_ASAN)
constexpr bool UNDER_ADDRESS_SANITIZER = true;
#else
constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif

TEST(TextTest, FailedAllocationIsOutOfMemory) {
  // The sanitizer's allocator aborts on requests this large.
  if (UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "allocator aborts";
  const ThrowOnFatal fatal;
  Text text;
  const Outcome outcome =
      run_captured([&] { text.reserve_more(SIZE_MAX / 4); });
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_NO_MEMORY);
  EXPECT_EQ(outcome.fatal->message, "Chyba. Nedostatek pameti. \n");
}

}  // namespace
