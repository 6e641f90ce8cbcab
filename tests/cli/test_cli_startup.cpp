// The terminal's part in the start-up sequence, over virtual drives: the confirmation, the
// printed list, --list and --drive, and the exit code of each way out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_startup.h"
#include "session/options.h"
#include "tests/support/text_files.h"
#include "tests/support/virtual_rig.h"

namespace tavo {
namespace {

using ::testing::HasSubstr;

struct TCliStart {
  test::TVirtualRig rig;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  std::FILE* in = std::tmpfile();
  int exitCode = -1;
  TStartupOutcome outcome{};

  TCliStart(const std::vector<std::string>& profiles, const TCliOptions& options,
            const std::string& typed = "") {
    std::vector<TDriveProfile> drives;
    for (const std::string& name : profiles) drives.push_back(*FindProfile(name));
    rig.Attach(drives);
    std::fputs(typed.c_str(), in);
    std::rewind(in);
    rig.engine =
        std::make_unique<TFlashEngine>(rig.state, *rig.atapi, EmbeddedImage(), rig.ui, rig.clock);
    TCliStartupHooks hooks(options, out, err, in);
    hooks.SetDrives(*rig.atapi);
    outcome = RunStartup(*rig.engine, rig.state, rig.ui, hooks);
    exitCode = outcome == TStartupOutcome::Ready ? kExitVerified : hooks.ExitCode(outcome);
  }
  ~TCliStart() {
    std::fclose(out);
    std::fclose(err);
    std::fclose(in);
  }
};

TEST(CliStartup, YesConfirmsAndDrivePicksTheItem) {
  TCliOptions options;
  options.yes = true;
  options.drive = 1;
  TCliStart s({"default", "normal-mode"}, options);
  ASSERT_EQ(s.outcome, TStartupOutcome::Ready);
  const std::string out = test::ReadStream(s.out);
  EXPECT_THAT(out, HasSubstr(TFlashEngine::ConfirmationText(s.rig.state.edit1) + " OK\n"));
  EXPECT_THAT(out, HasSubstr("[1] " + s.rig.state.items[1] + "  emulated:sr1\n"));
  EXPECT_THAT(out, HasSubstr("Selected: " + s.rig.state.items[1] + "\n"));
  EXPECT_EQ(s.rig.state.selectedItem, 1);
}

TEST(CliStartup, EachWayOutHasItsExitCode) {
  TCliOptions list;
  list.list = true;
  EXPECT_EQ(TCliStart({"default"}, list).exitCode, kExitVerified);

  // One drive session at a time, as in the program.
  {
    TCliOptions far;
    far.yes = true;
    far.drive = 3;
    TCliStart outOfRange({"default"}, far);
    EXPECT_EQ(outOfRange.exitCode, kExitUsage);
    EXPECT_THAT(test::ReadStream(outOfRange.err),
                HasSubstr("there is no drive 3 in the list (0 to 0)"));
  }
  {
    TCliStart cancelled({"default"}, TCliOptions{}, "n\n");
    EXPECT_EQ(cancelled.exitCode, kExitRefused);  // the user said no: nothing was sent
    EXPECT_TRUE(cancelled.rig.state.items.empty());
  }
  TCliOptions yes;
  yes.yes = true;
  TCliStart none({"legacy-unlisted"}, yes);
  EXPECT_EQ(none.exitCode, kExitUsage);
  // Pinned on purpose: the user-visible message when no drive matches, then why.
  EXPECT_EQ(test::ReadStream(none.err),
            "Can't find the device to upgrade !!\n"
            "None of the optical drives found is a TAVO    QRD-1040C:\n"
            "  emulated:sr0: vendor TAVO, product QRD-1370C, revision 1.05\n"
            "To try tavoflash-cli without such a drive: tavoflash-cli --emulate\n");
}

TEST(CliStartup, DriveTakesADeviceNodeFromTheList) {
  TCliOptions options;
  options.yes = true;
  options.drivePath = "emulated:sr1";
  {
    TCliStart s({"default", "normal-mode"}, options);
    ASSERT_EQ(s.outcome, TStartupOutcome::Ready);
    EXPECT_EQ(s.rig.state.selectedItem, 1);
    EXPECT_THAT(test::ReadStream(s.out),
                HasSubstr("[1] " + s.rig.state.items[1] + "  emulated:sr1\n"));
  }

  options.drivePath = "/dev/sr7";
  TCliStart missing({"default"}, options);
  EXPECT_EQ(missing.exitCode, kExitUsage);
  EXPECT_THAT(test::ReadStream(missing.err), HasSubstr("no drive in the list is at /dev/sr7"));
}

}  // namespace
}  // namespace tavo

namespace tavo {
namespace {

// The last question names the drive that will be written and the revision change; --yes
// answers it, and anything but yes on the terminal sends nothing that writes.
TEST(CliStartup, TheLastQuestionNamesTheTargetAndTheRevisionChange) {
  const std::string question = "Flash drive [1] emulated:sr1 (TAVO QRD-1040C) from 1.05 to 1.08?";
  for (const auto& [yes, typed, answered] : std::vector<std::tuple<bool, std::string, bool>>{
           {true, "", true}, {false, "y\n", true}, {false, "\n", false}, {false, "n\n", false}}) {
    TCliOptions options;
    options.yes = yes;
    options.drive = 1;
    TCliStart s({"default", "default"}, options, yes ? "" : "y\n" + typed);
    ASSERT_EQ(s.outcome, TStartupOutcome::Ready);
    TCliStartupHooks hooks(options, s.out, s.err, s.in);
    EXPECT_EQ(hooks.ConfirmTarget(SelectedTarget(*s.rig.atapi, s.rig.state)), answered) << typed;
    EXPECT_THAT(test::ReadStream(s.out), HasSubstr(question + (yes ? " yes\n" : " [y/N] ")));
    EXPECT_TRUE(s.rig.Commands(TCommandKind::WritePatch).empty());
  }
  // A change that is no upgrade is named.
  for (const auto& [profile, change] : std::vector<std::pair<std::string, std::string>>{
           {"newer", "from 1.10 to 1.08 (an older revision: a downgrade)?"},
           {"current", "from 1.08 to 1.08 (the same revision: reinstall)?"}}) {
    TCliOptions options;
    options.yes = true;
    TCliStart s({profile}, options);
    ASSERT_EQ(s.outcome, TStartupOutcome::Ready);
    TCliStartupHooks hooks(options, s.out, s.err, s.in);
    hooks.ConfirmTarget(SelectedTarget(*s.rig.atapi, s.rig.state));
    EXPECT_THAT(test::ReadStream(s.out), HasSubstr(change + " yes\n"));
  }
}

}  // namespace
}  // namespace tavo

namespace tavo {
namespace {

// A mistyped command line is a usage error that says what was probably meant; options that
// contradict each other are refused; a bare kernel name is its device node.
TEST(CliOptions, HintsConflictsAndDriveNames) {
  const auto parse = [](const std::vector<std::string>& args, TCliOptions& options) {
    std::string error;
    const TCommandLine line = ParseCommandLine(args);
    if (!line.Ok()) return line.error;
    if (!ParseCliArgs(line.rest, options, error)) return error;
    CheckCliCombination(options, error);
    return error;
  };
  TCliOptions o;
  EXPECT_EQ(parse({"--emulate", "bad-verify"}, o),
            "--emulate takes its profiles after '=': did you mean --emulate=bad-verify?");
  EXPECT_EQ(parse({"--chek"}, o), "unknown option --chek (did you mean --check?)");
  EXPECT_EQ(parse({"--transprot=aspi"}, o),
            "unknown option --transprot=aspi (did you mean --transport?)");
  EXPECT_EQ(parse({"--frobnicate"}, o), "unknown option --frobnicate");
  o = {};
  EXPECT_THAT(parse({"--list", "--check"}, o), HasSubstr("do not go together"));
  o = {};
  EXPECT_THAT(parse({"--list", "--drive", "1"}, o), HasSubstr("does not go with --drive"));
  o = {};
  EXPECT_THAT(parse({"--drive", "10"}, o), HasSubstr("(0 to 9)"));
  o = {};
  EXPECT_EQ(parse({"--drive", "sr0"}, o), "");
  EXPECT_EQ(o.drivePath, "/dev/sr0");
  o = {};
  EXPECT_EQ(parse({"--drive=emulated:sr1"}, o), "");
  EXPECT_EQ(o.drivePath, "emulated:sr1");
}

}  // namespace
}  // namespace tavo
