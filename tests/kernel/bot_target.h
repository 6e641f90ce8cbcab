// The command side of a USB mass-storage (Bulk-Only Transport) device that carries SCSI
// commands to a drive model. No I/O here: the gadget program moves the bytes, this code
// checks the command wrapper, runs the command and builds the status wrapper, so it can be
// tested without a kernel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "emulator/virtual_drive.h"

namespace tavo::kernel {

constexpr size_t kCbwSize = 31;
constexpr size_t kCswSize = 13;

// A command block wrapper as the host sent it, after validation.
struct TCbw {
  uint32_t tag = 0;
  uint32_t dataLength = 0;  // bytes the host expects to move in the data phase
  bool dataIn = false;      // direction of the data phase (device to host)
  uint8_t lun = 0;
  uint8_t cdbLength = 0;          // 1 to 16
  std::array<uint8_t, 16> cdb{};  // bytes past cdbLength are zero
};

// Checks signature, size, LUN field and CDB length; nullopt for anything malformed.
std::optional<TCbw> ParseCbw(const uint8_t* bytes, size_t size);

enum class TCswStatus : uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };

std::array<uint8_t, kCswSize> BuildCsw(uint32_t tag, uint32_t residue, TCswStatus status);

// Runs a drive function one command at a time and keeps the sense data of the last failed
// command for the host's REQUEST SENSE, as a USB bridge in front of a drive does.
class TBotTarget {
 public:
  using TExecute = std::function<TCommandResult(const uint8_t* cdb, size_t cdbLength, uint8_t* data,
                                                uint32_t length, TDataDirection direction)>;

  TBotTarget(TExecute execute, uint32_t maxTransfer);

  // True when the data phase of this command fits the limit; a command that does not is
  // answered with a phase error and no data phase.
  bool Accepts(const TCbw& cbw) const { return cbw.dataLength <= maxTransfer_; }

  // Runs one accepted command. For data-out, data holds the dataLength bytes received.
  // For data-in, data comes back with exactly dataLength bytes (zero padded past what the
  // drive returned), so the host always gets the length it asked for; the residue in the
  // status wrapper says how much of it is real.
  std::array<uint8_t, kCswSize> Run(const TCbw& cbw, std::vector<uint8_t>& data);

 private:
  std::array<uint8_t, kCswSize> AnswerRequestSense(const TCbw& cbw, std::vector<uint8_t>& data);
  void KeepSense(uint8_t key, uint8_t asc, uint8_t ascq);

  TExecute execute_;
  uint32_t maxTransfer_;
  std::array<uint8_t, 18> sense_{};
  uint8_t senseLength_ = 0;
};

}  // namespace tavo::kernel
