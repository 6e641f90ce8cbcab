// Which revision is newer, and what a run does with a drive at a newer one.
#include <gtest/gtest.h>

#include "session/revision_policy.h"

namespace tavo {
namespace {

TEST(RevisionPolicy, RevisionsCompareAsDottedNumbersAndAmbiguousOnesAreUnknown) {
  using enum TRevisionChange;
  struct TCase {
    const char* drive;
    const char* image;
    TRevisionChange change;
  };
  const TCase cases[] = {
      {"1.05", "1.08", Newer},
      {"1.08", "1.05", Older},
      {"1.08", "1.10", Newer},
      {"1.10", "1.08", Older},
      {"1.08", "1.08", Same},
      {"1.9", "2.0", Newer},
      {"9.99", "10.00", Newer},
      {"1.05 ", " 1.05", Same},  // INQUIRY pads with blanks
      {"1.05", "1.05.1", Newer},
      {"1.05.0", "1.05", Same},
      {"1.0", "1.00", Same},
      // A tenth or part five? Part nine or ninety? Either reading could be meant.
      {"1.5", "1.05", Unknown},
      {"1.9", "1.10", Unknown},
      {"1.5", "1.15", Unknown},
      {"1.5", "1.60", Newer},  // both readings agree
      {"1.0A", "1.08", Unknown},
      {"1.0A", "1.0A", Same},
      {"", "1.08", Unknown},
      {"", "", Unknown},
      {"1..5", "1.5", Unknown},
      {"1.", "1.0", Unknown},
      {"18446744073709551617.0", "18446744073709551616.0", Older},  // no overflow
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CompareRevisions(c.drive, c.image), c.change) << c.drive << " -> " << c.image;
  }
}

TEST(RevisionPolicy, ADowngradeNeedsAPersonOrAllowOlderAndIfNeededLeavesNewerDrivesAlone) {
  using enum TRevisionVerdict;
  const auto decide = [](const char* drive, TRevisionPolicy policy) {
    return DecideRevision(drive, "1.08", policy);
  };
  EXPECT_EQ(decide("1.10", {.unattended = true}), RefuseOlder);
  EXPECT_EQ(decide("1.10", {.allowOlder = true, .unattended = true}), Write);
  EXPECT_EQ(decide("1.10", {}), Write);  // a person answers the question that says so
  EXPECT_EQ(decide("1.10", {.restore = true, .unattended = true}), Write);
  EXPECT_EQ(decide("1.10", {.ifNeeded = true, .allowOlder = true}), LeaveNewer);
  EXPECT_EQ(decide("1.08", {.ifNeeded = true}), LeaveSame);
  EXPECT_EQ(decide("1.05", {.ifNeeded = true, .unattended = true}), Write);
  EXPECT_EQ(decide("1.0A", {.ifNeeded = true, .unattended = true}), Write);
  EXPECT_EQ(decide("1.08", {.ifNeeded = true, .restore = true}), Write);
}

}  // namespace
}  // namespace tavo
