#include <gtest/gtest.h>

#include "emulator/profiles.h"
#include "session/emulate_option.h"

namespace tavo {
namespace {

TEST(EmulateOption, ListsProfilesInOrderWithDefaultWhenBare) {
  EXPECT_EQ(ParseEmulateOption(std::nullopt).profiles, std::vector<std::string>{"default"});
  const TEmulateChoice c = ParseEmulateOption("no-medium,default,no-medium");
  ASSERT_TRUE(c.Ok());
  EXPECT_EQ(c.profiles, (std::vector<std::string>{"no-medium", "default", "no-medium"}));

  auto m = MatchEmulateArgument("--emulate=bad-verify");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->profiles, std::vector<std::string>{"bad-verify"});
  EXPECT_EQ(MatchEmulateArgument("--emulate")->profiles, std::vector<std::string>{"default"});
  EXPECT_FALSE(MatchEmulateArgument("--emulated"));
  EXPECT_FALSE(MatchEmulateArgument("--transport=aspi"));
}

TEST(EmulateOption, UnknownOrEmptyNamesAreErrorsListingTheKnownOnes) {
  for (const char* value : {"default,nope", "", "default,", ",default", "DEFAULT"}) {
    const TEmulateChoice c = ParseEmulateOption(std::string(value));
    EXPECT_FALSE(c.Ok()) << value;
    EXPECT_TRUE(c.profiles.empty()) << value;
    for (const std::string& known : ProfileNames()) {
      EXPECT_NE(c.error.find(known), std::string::npos) << value;
    }
  }
  EXPECT_NE(ParseEmulateOption(std::string("default,nope")).error.find("\"nope\""),
            std::string::npos);
}

// Each drive may have its own file; a file names one drive only, and "name@" needs one.
TEST(EmulateOption, FilesGoWithTheirDriveAndServeOneDriveOnly) {
  const TEmulateChoice c = ParseEmulateOption(std::string("default@a.vdrive,newer,current@b@c"));
  ASSERT_TRUE(c.Ok()) << c.error;
  EXPECT_EQ(c.profiles, (std::vector<std::string>{"default", "newer", "current"}));
  EXPECT_EQ(c.files, (std::vector<std::string>{"a.vdrive", "", "b@c"}));
  for (const auto& [value, says] : std::vector<std::pair<std::string, std::string>>{
           {"default@", "default@ needs the file"},
           {"default@x,newer@x", "the file x is named for two drives"},
           {"nope@x", "unknown profile \"nope\""},
           {"@x", "empty profile name"}}) {
    const TEmulateChoice bad = ParseEmulateOption(value);
    EXPECT_FALSE(bad.Ok()) << value;
    EXPECT_NE(bad.error.find(says), std::string::npos) << value << ": " << bad.error;
    EXPECT_TRUE(bad.profiles.empty() && bad.files.empty()) << value;
  }
}

}  // namespace
}  // namespace tavo
