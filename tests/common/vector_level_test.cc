// Forcing a vector level: a level the processor offers is taken as named,
// one it lacks falls back to the best it has, anything else means the best.
#include "vector_level.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

class ForcedLevel : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, ForcedLevel, test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

TEST_P(ForcedLevel, AnOfferedLevelIsTakenAsNamed) {
  EXPECT_EQ(choose_vector_level(vector_level_name(GetParam())), GetParam());
}

TEST(VectorLevelTest, OthersFallBackToTheBest) {
  const VectorLevel best = best_vector_level();
  EXPECT_TRUE(cpu_supports(best));
  EXPECT_TRUE(cpu_supports(VectorLevel::scalar));
  for (const char* value : {"", "AVX2", "sse", "avx", "avx512 "})
    EXPECT_EQ(choose_vector_level(value), best) << value;
  EXPECT_EQ(choose_vector_level(nullptr), best);
  // A level the processor lacks: the best it has.
  if (!cpu_supports(VectorLevel::avx512)) {
    EXPECT_EQ(choose_vector_level("avx512"), best);
  }
  if (!cpu_supports(VectorLevel::avx2)) {
    EXPECT_EQ(choose_vector_level("avx2"), VectorLevel::scalar);
  }
}

}  // namespace
