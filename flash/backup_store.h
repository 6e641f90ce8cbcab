// What the flash run reads from a drive before its first command that writes, and the seam
// through which it hands that copy over to be kept. The run reads; whoever implements the
// store decides where the copy goes (the program: a file under the state directory).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavo {

// The drive's memory as the run read it, twice and equal.
struct TDriveBackup {
  std::string vendor;    // INQUIRY vendor, 8 characters as the drive gave them
  std::string product;   // 16 characters
  std::string revision;  // 4 characters
  // banks[n]: bank n from offset 0 on, as many bytes as a run may rewrite there.
  std::vector<std::vector<uint8_t>> banks;
  // SHA-256 (lower-case hex) of every bank's bytes, bank after bank.
  std::string memorySha256;
};

class TBackupStore {
 public:
  virtual ~TBackupStore() = default;
  // Empty when the drive is to be backed up; otherwise the reason it is not, which the run
  // logs as it is given.
  virtual std::string SkipReason() const { return {}; }
  // Keeps the backup, on disk and flushed before it returns. True with where set to the
  // path of what was kept; false with where set to why nothing could be kept.
  virtual bool Keep(const TDriveBackup& backup, std::string& where) = 0;
};

// SHA-256 of the banks, bank after bank, as TDriveBackup::memorySha256 holds it.
std::string MemorySha256(const std::vector<std::vector<uint8_t>>& banks);

}  // namespace tavo
