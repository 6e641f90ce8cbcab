// TVirtualDrive: an optical drive's firmware in software, with 8 x 64 KiB of flash that a
// flash run really changes. It runs on the TClock seam, so programming time and latency are
// virtual in tests and real (a few seconds) in the demo.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/clock.h"

namespace tavo {

// Outcome of one command as a drive (and the transport under it) produces it.
struct TCommandResult {
  uint8_t status = 0;  // SCSI status: 0 GOOD, 2 CHECK CONDITION
  std::array<uint8_t, 18> sense{};  // fixed-format sense data when senseLength > 0
  uint8_t senseLength = 0;
  uint32_t transferred = 0;  // bytes actually moved
  int systemError = 0;       // injected: the system refuses the request with this errno
  bool lostCompletion = false;  // injected: the request never completes
};

// Direction of the data phase as the drive sees it.
enum class TDataDirection { None, In, Out };

struct TDriveProfile;  // defined in emulator/profiles.h

class TVirtualDrive {
 public:
  TVirtualDrive(const TDriveProfile& profile, TClock& clock);
  ~TVirtualDrive();

  // Runs one CDB. data holds length bytes: filled for In, read for Out.
  TCommandResult Execute(const uint8_t* cdb, size_t cdbLength, uint8_t* data, uint32_t length,
                         TDataDirection direction);

  // The drive's flash memory (8 banks of 64 KiB).
  const std::vector<uint8_t>& Flash() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace tavo
