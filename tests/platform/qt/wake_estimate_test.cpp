#include "platform/qt/wake_estimate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace rovalink::platform {
namespace {

// Idle virtual CPUs wake in ~0.19 ms, busy ones in ~0.03 ms; now and then another task holds
// the CPU for milliseconds. The lead must follow the typical wake, not the outliers, and stay
// bounded whatever it is fed.
TEST(WakeEstimate, FollowsTheMedianWakeAndIgnoresRareLongOnes) {
  std::mt19937 random(7);
  for (const std::int64_t typical : {190'000, 30'000}) {
    WakeEstimate estimate;
    std::uniform_int_distribution<std::int64_t> jitter(-20'000, 20'000);
    for (int i = 0; i < 400; ++i) {
      estimate.observe(i % 10 == 0 ? 4'000'000 : typical + jitter(random));
    }
    EXPECT_NEAR(estimate.median(), typical, 30'000) << typical;
    EXPECT_EQ(estimate.lead(), estimate.median() + WakeEstimate::kMargin);
  }
  WakeEstimate flooded;
  for (int i = 0; i < 1000; ++i) flooded.observe(50'000'000);
  EXPECT_EQ(flooded.lead(), WakeEstimate::kMaxLead);
  for (int i = 0; i < 1000; ++i) flooded.observe(-1);
  EXPECT_EQ(flooded.median(), 0);
}

}  // namespace
}  // namespace rovalink::platform
