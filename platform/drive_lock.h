// One drive, one program: the per-drive lock both front ends take for a run, and the
// exclusive hold on the drive's block device.
//
// The lock is an flock() on "tavoflash-<device>.lock" in /run/lock (or /tmp when /run/lock
// does not exist or cannot be written), where <device> is the device name with "/dev/" left
// out and every character other than a letter, digit, '-' or '.' made '_'. The file is
// made readable by everyone, so that a program run by another user can take the same lock.
// A virtual drive exists only inside its program: its lock lives in the user's runtime
// directory, where it keeps two programs of that user apart and nobody else's.
//
// Both shared directories are writable by everyone. A file found at the lock's path that
// is not a regular file, or that cannot be opened, stops the run (Refused, with the file
// and its owner named) instead of sending the program to another directory, where a
// second program would take a second lock on the same drive.
#pragma once

#include <string>
#include <vector>

namespace tavo {

// "tavoflash-sr0.lock" for "/dev/sr0", "tavoflash-emulated_sr1.lock" for "emulated:sr1".
std::string DriveLockFileName(const std::string& device);

// True for the names of virtual drives ("emulated:sr0", "replay:sr0").
bool IsVirtualDevice(const std::string& device);

// The directories tried for a real drive's lock file, in order: $TAVOFLASH_LOCK_DIR when
// set (a test or a sandbox keeps its runs apart with it), else /run/lock then /tmp.
std::vector<std::string> DriveLockDirectories();

enum class TDriveLockResult { Taken, Busy, Unavailable, Refused };

class TDriveLock {
 public:
  TDriveLock() = default;
  ~TDriveLock();
  TDriveLock(const TDriveLock&) = delete;
  TDriveLock& operator=(const TDriveLock&) = delete;

  // Takes the lock for device in its directory: $TAVOFLASH_LOCK_DIR when set, else the
  // user's runtime directory for a virtual drive and DriveLockDirectories() for a real one.
  TDriveLockResult Acquire(const std::string& device);
  // Takes the lock in the first of directories that exists and can be written. Busy:
  // another program holds it. Unavailable: no directory could hold the file (Path() says
  // the last one tried). Refused: a file is there that must not or cannot be used as the
  // lock (Path() names it, Reason() says what it is and whose).
  TDriveLockResult Acquire(const std::string& device, const std::vector<std::string>& directories);
  void Release();
  bool Held() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }
  // The directories the last Acquire looked in, in order.
  const std::vector<std::string>& Directories() const { return directories_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string reason_;
  std::vector<std::string> directories_;
};

// Opens a block device read-write with O_EXCL for as long as the object lives: the kernel
// then refuses the device to a mount and to other exclusive openers (Open fails with
// EBUSY while one of them holds it), and stops its own media polling of the drive.
class TExclusiveDevice {
 public:
  TExclusiveDevice() = default;
  ~TExclusiveDevice();
  TExclusiveDevice(const TExclusiveDevice&) = delete;
  TExclusiveDevice& operator=(const TExclusiveDevice&) = delete;

  // 0 on success, else the errno value of the refused open.
  int Open(const std::string& path);
  void Close();

 private:
  int fd_ = -1;
};

}  // namespace tavo
