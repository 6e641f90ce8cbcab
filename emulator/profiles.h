// Drive profiles: each a drive a user could own, selectable by name. A profile fixes the
// drive's identity, its capabilities page, its patch region, what its current firmware holds
// and how it answers the commit and the readiness poll. Tests may build their own variants.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/scsi.h"

namespace tavo {

using scsi::TSenseCode;

// How the drive answers one of the three commit forms.
struct TCommitRule {
  bool accept = true;
  TSenseCode refusal = scsi::kSenseInvalidFieldInCdb;  // sent when accept is false
};

// What TEST UNIT READY says once programming has ended.
enum class TReadyBehaviour {
  Normal,                 // ready again
  NeverReady,             // stays NOT READY / OPERATION IN PROGRESS for ever
  EmptyAfterProgramming,  // comes back as NOT READY / MEDIUM NOT PRESENT
};

struct TDriveProfile {
  std::string name = "default";
  std::string vendor = "TAVO    ";            // 8 characters
  std::string product = "QRD-1040C       ";   // 16 characters
  std::string revision = "1.05";              // 4 characters
  std::array<uint8_t, 2> family{0x57, 0x30};  // INQUIRY bytes 38 and 39 ("W0")

  // Capabilities page 2Ah: page byte 0, byte 2 and byte 3 (the rest is fixed).
  uint8_t capsPageByte0 = 0x2A;
  uint8_t capsByte2 = 0x0B;  // CD-R read, CD-RW read, DVD-ROM read
  uint8_t capsByte3 = 0x03;  // CD-R write, CD-RW write, no DVD-R write

  // Patch descriptor returned by the patch-info command, as the drive holds it (may be
  // hostile in tests). No value: the reply carries no descriptor signature.
  std::optional<std::array<uint8_t, 9>> patchDescriptor;

  // Design marker text (ASCII, written UTF-16LE) in bank 0 of the current firmware; empty
  // for none, and where it starts.
  std::string marker = "Tavonix ODD";
  uint32_t markerOffset = 0x1235;

  // Seed of the deterministic "older firmware" that fills the flash at power-on.
  uint32_t firmwareSeed = 0x5EED1040;

  uint32_t programmingTimeMs = 3000;

  TCommitRule commitMode4;    // mode 4, selector E0h + count
  TCommitRule commitMode5E0;  // mode 5, selector E0h + count
  TCommitRule commitMode5F0;  // mode 5, selector F0h + count

  TReadyBehaviour ready = TReadyBehaviour::Normal;

  // The drive does not take images of this kind: every bank download from bank
  // refuseDownloadFrom on is refused (the banks before it are taken), and the flash status
  // reports what it holds (nothing attempted when it took no bank).
  bool refuseDownload = false;
  uint8_t refuseDownloadFrom = 0;
  TSenseCode downloadRefusal = scsi::kSenseInvalidFieldInParameterList;

  // The drive knows no flash-status command: it refuses it as an invalid opcode.
  bool refuseFlashStatus = false;

  // Programming goes wrong by one byte (the first byte of the lowest programmed bank).
  bool corruptProgramming = false;

  // The drive knows none of the vendor commands (nor any opcode it cannot decode) and,
  // instead of refusing them, answers each with GOOD and zeroed data: nothing is ever
  // written, yet every command seems to succeed.
  bool lenient = false;

  // Memory reads (and the firmware read) are unreliable: every reply differs from the memory
  // in one byte, a different one each time, so two reads of the same bank never agree.
  bool unstableReads = false;
};

// Builds the named profile; no value for an unknown name.
std::optional<TDriveProfile> FindProfile(const std::string& name);

// Every known profile name, in a fixed order.
const std::vector<std::string>& ProfileNames();

}  // namespace tavo
