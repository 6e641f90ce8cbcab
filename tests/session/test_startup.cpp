// The start-up sequence both front ends run: the order of its steps, where each way out
// stops, and what the front end gets to see and choose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/startup.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// Records every hook call as a short text and answers as told.
class TScriptedHooks final : public TStartupHooks {
 public:
  bool confirm = true;
  bool continueWithoutDrive = false;
  bool keepGoing = true;
  int choose = -1;  // item to choose; -1 keeps the sequence's choice
  std::vector<std::string> calls;

  void ShowImageIdentity(const std::string& identity) override {
    calls.push_back("identity:" + identity);
  }
  bool Confirm(const std::string& question) override {
    calls.push_back("confirm:" + question);
    return confirm;
  }
  bool ChooseDrive(TFlashState& state) override {
    calls.push_back("choose:" + std::to_string(state.items.size()));
    if (choose >= 0) state.selectedItem = choose;
    return keepGoing;
  }
  bool NoMatchingDrive() override {
    calls.push_back("none");
    return continueWithoutDrive;
  }
  void ShowSelection(const std::string& caption, const std::string& selected) override {
    calls.push_back("selection:" + caption + "|" + selected);
  }
};

class StartupSequence : public ::testing::Test {
 protected:
  TStartupOutcome Run(const std::vector<std::string>& profiles) {
    std::vector<TDriveProfile> drives;
    for (const std::string& name : profiles) drives.push_back(*FindProfile(name));
    rig_.Attach(drives);
    rig_.engine = std::make_unique<TFlashEngine>(rig_.state, *rig_.atapi, EmbeddedImage(), rig_.ui,
                                                 rig_.clock);
    return RunStartup(*rig_.engine, rig_.state, rig_.ui, hooks_);
  }
  std::vector<std::string> Notice() const {
    return {std::begin(TFlashEngine::kNoticeLines), std::end(TFlashEngine::kNoticeLines)};
  }

  test::TVirtualRig rig_;
  TScriptedHooks hooks_;
};

TEST_F(StartupSequence, ConfirmedRunShowsIdentityListCaptionAndNoticeInOrder) {
  hooks_.choose = 1;
  ASSERT_EQ(Run({"default", "normal-mode"}), TStartupOutcome::Ready);
  const std::string identity = rig_.state.edit1;
  ASSERT_FALSE(identity.empty());
  EXPECT_THAT(
      hooks_.calls,
      ElementsAre("identity:" + identity, "confirm:" + TFlashEngine::ConfirmationText(identity),
                  "choose:2",
                  "selection:" + TFlashEngine::CaptionFor(identity) + "|" + rig_.state.items[1]));
  // The chosen item's drive is the current one.
  EXPECT_EQ(rig_.atapi->DriveHandle(), rig_.atapi->Drive(rig_.state.driveMap[1]).Handle);
  EXPECT_NE(rig_.atapi->DriveHandle(), rig_.atapi->Drive(rig_.state.driveMap[0]).Handle);
  EXPECT_THAT(rig_.ui.logs, ElementsAreArray(Notice()));
}

TEST_F(StartupSequence, CancelStopsBeforeTheDriveList) {
  hooks_.confirm = false;
  EXPECT_EQ(Run({"default"}), TStartupOutcome::Cancelled);
  EXPECT_EQ(hooks_.calls.size(), 2u);  // identity, confirm
  EXPECT_THAT(rig_.state.items, IsEmpty());
  EXPECT_THAT(rig_.ui.logs, IsEmpty());
}

TEST_F(StartupSequence, NoMatchingDriveStopsOrFinishesAsTheFrontEndSays) {
  EXPECT_EQ(Run({"legacy-unlisted"}), TStartupOutcome::NoDrive);
  EXPECT_EQ(hooks_.calls.back(), "none");
  EXPECT_THAT(rig_.ui.logs, IsEmpty());

  // The window still shows its caption (with no selection) and the notice lines.
  hooks_ = TScriptedHooks{};
  hooks_.continueWithoutDrive = true;
  rig_.state = TFlashState{};
  EXPECT_EQ(Run({"legacy-unlisted"}), TStartupOutcome::NoDrive);
  EXPECT_EQ(hooks_.calls.back(), "selection:" + TFlashEngine::CaptionFor(rig_.state.edit1) + "|");
  EXPECT_THAT(rig_.ui.logs, ElementsAreArray(Notice()));
}

TEST_F(StartupSequence, FrontEndMayStopAfterTheList) {
  hooks_.keepGoing = false;
  EXPECT_EQ(Run({"default"}), TStartupOutcome::Stopped);
  EXPECT_EQ(hooks_.calls.back(), "choose:1");
  EXPECT_THAT(rig_.ui.logs, IsEmpty());
}

}  // namespace
}  // namespace tavo
