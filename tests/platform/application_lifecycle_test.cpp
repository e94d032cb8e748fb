#include "voduzazi/platform/application_lifecycle.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

namespace voduzazi {
namespace {

using ::testing::ElementsAre;

TEST(ApplicationLifecycle, ReportsChangesOnlyAndCatchesUpLateObservers) {
  ApplicationLifecycle lifecycle;
  EXPECT_EQ(lifecycle.activity(), ApplicationActivity::inactive);
  std::vector<ApplicationActivity> early;
  auto earlyToken = lifecycle.observe([&](ApplicationActivity a) { early.push_back(a); });
  EXPECT_THAT(early, ElementsAre()) << "inactive is no news";

  lifecycle.setActivity(ApplicationActivity::active);
  lifecycle.setActivity(ApplicationActivity::active);
  std::vector<ApplicationActivity> late;
  auto lateToken = lifecycle.observe([&](ApplicationActivity a) { late.push_back(a); });
  lifecycle.setActivity(ApplicationActivity::inactive);

  EXPECT_THAT(early, ElementsAre(ApplicationActivity::active, ApplicationActivity::inactive));
  EXPECT_THAT(late, ElementsAre(ApplicationActivity::active, ApplicationActivity::inactive));

  earlyToken.reset();
  lifecycle.setActivity(ApplicationActivity::active);
  EXPECT_EQ(early.size(), 2u) << "a released token stops the reports";
}

TEST(ApplicationLifecycle, AnObserverMayStopObservingWhileBeingTold) {
  ApplicationLifecycle lifecycle;
  std::shared_ptr<ObservationToken> token;
  int calls = 0;
  token = lifecycle.observe([&](ApplicationActivity) {
    ++calls;
    token->cancel();
  });
  lifecycle.setActivity(ApplicationActivity::active);
  lifecycle.setActivity(ApplicationActivity::inactive);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace voduzazi
