// One drive, one program: the per-drive lock both front ends take for a run, and the
// exclusive hold on the drive's block device.
//
// The lock is an flock() on "tavoflash-<device>.lock" in /run/lock (or /tmp when that
// directory cannot take the file), where <device> is the device name with "/dev/" left
// out and every character other than a letter, digit, '-' or '.' made '_'. The file is
// made readable by everyone, so that a program run by another user can take the same lock.
#pragma once

#include <string>
#include <vector>

namespace tavo {

// "tavoflash-sr0.lock" for "/dev/sr0", "tavoflash-emulated_sr1.lock" for "emulated:sr1".
std::string DriveLockFileName(const std::string& device);

// The directories tried for the lock file, in order: $TAVOFLASH_LOCK_DIR when set (a test
// or a sandbox keeps its runs apart with it), else /run/lock then /tmp.
std::vector<std::string> DriveLockDirectories();

enum class TDriveLockResult { Taken, Busy, Unavailable };

class TDriveLock {
 public:
  TDriveLock() = default;
  ~TDriveLock();
  TDriveLock(const TDriveLock&) = delete;
  TDriveLock& operator=(const TDriveLock&) = delete;

  // Takes the lock for device in the first directory that can hold the file. Busy: another
  // program holds it. Unavailable: no directory could hold the file (path says the last
  // one tried).
  TDriveLockResult Acquire(const std::string& device,
                           const std::vector<std::string>& directories = DriveLockDirectories());
  void Release();
  bool Held() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
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
