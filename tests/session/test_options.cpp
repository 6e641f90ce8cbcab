// The command line and the drive session shared by both front ends.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "emulator/virtual_bus.h"
#include "session/drive_session.h"
#include "session/options.h"
#include "tests/support/recording.h"

namespace tavo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using TQuietSink = test::TRecordingSink;

TEST(StartupOptions, EmulateAndTransportAreTakenTheRestIsLeft) {
  TStartupOptions options;
  std::vector<std::string> rest;
  std::string error;
  ASSERT_TRUE(
      ParseStartupArgs({"--yes", "--emulate=default,no-marker", "--transport=aspi", "--drive", "1"},
                       options, rest, error))
      << error;
  EXPECT_TRUE(options.emulate);
  EXPECT_THAT(options.profiles, ElementsAre("default", "no-marker"));
  EXPECT_TRUE(options.aspi);
  EXPECT_THAT(rest, ElementsAre("--yes", "--drive", "1"));

  TStartupOptions bare;
  rest.clear();
  ASSERT_TRUE(ParseStartupArgs({"--emulate"}, bare, rest, error));
  EXPECT_TRUE(bare.emulate);
  EXPECT_FALSE(bare.aspi);
}

TEST(StartupOptions, BadValuesAreReported) {
  for (const std::string arg :
       {"--emulate=nonsense", "--emulate=", "--transport=scsi", "--transport"}) {
    SCOPED_TRACE(arg);
    TStartupOptions options;
    std::vector<std::string> rest;
    std::string error;
    EXPECT_FALSE(ParseStartupArgs({arg}, options, rest, error));
    EXPECT_FALSE(error.empty());
  }
  TStartupOptions options;
  std::string error;
  EXPECT_EQ(ParseStartupOption("--emulate=nonsense", options, error), TOptionResult::Bad);
  EXPECT_THAT(error, HasSubstr("never-ready"));  // lists the known profiles
  EXPECT_EQ(ParseStartupOption("--emulator", options, error), TOptionResult::NotMine);
}

TEST(StartupOptions, EnvironmentSelectsTheSgTransport) {
  TStartupOptions options;
  std::string error;
  setenv("TAVOFLASH_TRANSPORT", "aspi", 1);
  EXPECT_TRUE(ApplyTransportEnvironment(options, error));
  EXPECT_TRUE(options.aspi);
  setenv("TAVOFLASH_TRANSPORT", "passthrough", 1);
  EXPECT_TRUE(ApplyTransportEnvironment(options, error));
  EXPECT_FALSE(options.aspi);
  unsetenv("TAVOFLASH_TRANSPORT");
  options.aspi = true;
  EXPECT_TRUE(ApplyTransportEnvironment(options, error));  // unset: the choice stands
  EXPECT_TRUE(options.aspi);
  EXPECT_TRUE(error.empty());
}

TEST(StartupOptions, UnknownEnvironmentTransportIsAnErrorLikeTheOption) {
  setenv("TAVOFLASH_TRANSPORT", "garbage", 1);
  const TCommandLine line = ParseCommandLine({"--emulate"});
  EXPECT_FALSE(line.Ok());
  EXPECT_THAT(line.error, HasSubstr("TAVOFLASH_TRANSPORT"));
  EXPECT_THAT(line.error, HasSubstr("garbage"));
  // A command-line transport leaves the environment unread, and so do help and version,
  // which need no transport at all.
  EXPECT_TRUE(ParseCommandLine({"--transport", "aspi"}).Ok());
  EXPECT_TRUE(ParseCommandLine({"--version"}).Ok());
  EXPECT_TRUE(ParseCommandLine({"--emulate", "--help"}).Ok());
  unsetenv("TAVOFLASH_TRANSPORT");
}

TEST(StartupOptions, ValuesTakeTheEqualsAndTheSpaceForm) {
  unsetenv("TAVOFLASH_TRANSPORT");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--transport=aspi", "--log=/tmp/run.log", "-x"},
           {"--transport", "aspi", "--log", "/tmp/run.log", "-x"}}) {
    const TCommandLine line = ParseCommandLine(args);
    ASSERT_TRUE(line.Ok()) << line.error;
    EXPECT_TRUE(line.options.aspi);
    EXPECT_EQ(line.options.logPath, "/tmp/run.log");
    EXPECT_THAT(line.rest, ElementsAre("-x"));  // the value is not left behind as an argument
  }
  // A value missing at the end of the line, or empty, is a usage error.
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--log"}, {"--log="}, {"--transport"}}) {
    EXPECT_FALSE(ParseCommandLine(args).Ok()) << args[0];
  }
}

TEST(StartupOptions, CommandLineTransportWinsOverTheEnvironment) {
  TStartupOptions options;
  std::vector<std::string> rest;
  std::string error;
  ASSERT_TRUE(ParseStartupArgs({"--transport=passthrough"}, options, rest, error));
  setenv("TAVOFLASH_TRANSPORT", "aspi", 1);
  EXPECT_TRUE(ApplyTransportEnvironment(options, error));
  unsetenv("TAVOFLASH_TRANSPORT");
  EXPECT_FALSE(options.aspi);
}

TEST(CommandLine, HelpVersionAndTheFrontEndsArgumentsAreSortedOut) {
  unsetenv("TAVOFLASH_TRANSPORT");
  TCommandLine line = ParseCommandLine({"--list", "--version", "--emulate", "-h", "--drive", "1"});
  ASSERT_TRUE(line.Ok()) << line.error;
  EXPECT_TRUE(line.help);
  EXPECT_TRUE(line.version);
  EXPECT_TRUE(line.options.emulate);
  EXPECT_THAT(line.rest, ElementsAre("--list", "--drive", "1"));

  line = ParseCommandLine({"--help", "--transport=bogus"});
  EXPECT_FALSE(line.Ok());
  EXPECT_THAT(line.error, HasSubstr("bogus"));

  // The environment is applied once the command line has parsed, and only when the
  // command line names no transport.
  setenv("TAVOFLASH_TRANSPORT", "aspi", 1);
  EXPECT_TRUE(ParseCommandLine({}).options.aspi);
  EXPECT_FALSE(ParseCommandLine({"--transport=passthrough"}).options.aspi);
  unsetenv("TAVOFLASH_TRANSPORT");
}

TEST(DriveSession, BuildsOneVirtualDrivePerProfileAndEndsTheObject) {
  TVirtualClock clock;
  TQuietSink sink;
  for (bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "aspi" : "pass-through");
    TStartupOptions options;
    options.emulate = true;
    options.profiles = {"default", "normal-mode", "other-family"};
    options.aspi = aspi;
    {
      TDriveSession session(options, clock, sink);
      ASSERT_TRUE(session.Ok()) << session.Error();
      EXPECT_TRUE(session.Emulated());
      ASSERT_NE(session.Bus(), nullptr);
      EXPECT_EQ(session.Bus()->DriveCount(), 3);
      EXPECT_EQ(session.Atapi().DriveCount(), 3);
      EXPECT_EQ(&session.Atapi(), &Atapi());
      EXPECT_EQ(session.Atapi().NtPlatform(), aspi ? 0 : 1);
      EXPECT_EQ(std::string(session.Atapi().Drive(0).Identity), "TAVO    QRD-1040C       ");

      // Only one program-wide object at a time.
      TDriveSession second(options, clock, sink);
      EXPECT_FALSE(second.Ok());
      EXPECT_FALSE(second.Error().empty());
    }
    EXPECT_FALSE(AtapiExists());
  }
}

TEST(DriveSession, BareEmulateGivesTheDefaultDrive) {
  TVirtualClock clock;
  TQuietSink sink;
  TStartupOptions options;
  options.emulate = true;
  TDriveSession session(options, clock, sink);
  ASSERT_TRUE(session.Ok());
  EXPECT_EQ(session.Atapi().DriveCount(), 1);
}

TEST(DriveSession, UnknownProfileIsAnErrorNotACrash) {
  TVirtualClock clock;
  TQuietSink sink;
  TStartupOptions options;
  options.emulate = true;
  options.profiles = {"default", "nonsense"};
  TDriveSession session(options, clock, sink);
  EXPECT_FALSE(session.Ok());
  EXPECT_THAT(session.Error(), HasSubstr("nonsense"));
  EXPECT_FALSE(AtapiExists());
}

}  // namespace
}  // namespace tavo
