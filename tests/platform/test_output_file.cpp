// Files named on the command line for writing: what is refused, and that a refused path
// is left as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/output_file.h"
#include "tests/support/text_files.h"

namespace tavo {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavo-output-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
  }
  void TearDown() override { fs::remove_all(root_); }
  // The reason OpenOutputFile gave, or "opened".
  static std::string Open(const std::string& path, TOutputMode mode) {
    std::string reason;
    const int fd = OpenOutputFile(path, mode, reason);
    if (fd < 0) return reason;
    CloseOutputFile(fd);
    return "opened";
  }
  fs::path root_;
};

TEST_F(OutputFileTest, ALinkIsRefusedInEveryModeAndItsTargetIsLeftAlone) {
  const fs::path target = root_ / "precious";
  std::ofstream(target) << "keep me\n";
  fs::create_symlink(target, root_ / "link");
  for (TOutputMode mode : {TOutputMode::Append, TOutputMode::CreateNew, TOutputMode::Replace}) {
    EXPECT_EQ(Open((root_ / "link").string(), mode), "it is a symbolic link");
  }
  EXPECT_EQ(test::ReadFile(target), "keep me\n");
}

TEST_F(OutputFileTest, WhatCannotBeWrittenIsRefusedWithTheReason) {
  ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(Open("/nonexistent-tavo/x.log", TOutputMode::Append), "No such file or directory");
  EXPECT_EQ(Open(root_.string(), TOutputMode::Append), "it is a folder");
  EXPECT_EQ(Open((root_ / "fifo").string(), TOutputMode::Append),
            "it is a FIFO or socket nobody reads");
  EXPECT_EQ(Open("/proc/version", TOutputMode::Append), "it is a kernel interface, not a file");
  EXPECT_EQ(Open("/dev/null", TOutputMode::Append), "it is a device, not a regular file");
  if (geteuid() != 0) {
    std::ofstream(root_ / "read-only");
    fs::permissions(root_ / "read-only", fs::perms::owner_read);
    EXPECT_EQ(Open((root_ / "read-only").string(), TOutputMode::Append), "Permission denied");
  }
}

TEST_F(OutputFileTest, AppendKeepsCreateNewRefusesReplaceEmpties) {
  const fs::path file = root_ / "run.log";
  std::ofstream(file) << "earlier\n";
  std::string reason;
  const int fd = OpenOutputFile(file.string(), TOutputMode::Append, reason);
  ASSERT_GE(fd, 0) << reason;
  ASSERT_EQ(write(fd, "later\n", 6), 6);
  CloseOutputFile(fd);
  EXPECT_EQ(test::ReadFile(file), "earlier\nlater\n");
  EXPECT_EQ(Open(file.string(), TOutputMode::CreateNew), "it exists already");
  EXPECT_EQ(test::ReadFile(file), "earlier\nlater\n");
  EXPECT_EQ(Open(file.string(), TOutputMode::Replace), "opened");
  EXPECT_EQ(test::ReadFile(file), "");
  EXPECT_EQ(Open((root_ / "new.log").string(), TOutputMode::CreateNew), "opened");
}

}  // namespace
}  // namespace tavo
