// The check before a run: which drives a flash run would take past its checks, found with
// reading commands only. It repeats the engine's own start-up matching, family gate, model
// check and design-marker search (INQUIRY and the firmware read) on every drive, and never
// sends what a run sends to prepare or change a drive (no StopPlayScan, no StartStopUnit, no
// patch-region refresh, no download or commit).
#pragma once

#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "image/firmware_image.h"

namespace tavo {

struct TDriveVerdict {
  int row = -1;          // drive-table row
  std::string item;      // the drive's list text ("<identity> <revision>")
  int listIndex = -1;    // its place in the list of matching drives; -1 when not listed
  bool passes = false;   // a run would get past the checks
  std::string stopLine;  // the log line that would stop the run (empty when it passes)
};

struct TCheckReport {
  // The image itself stops every run (no identity, failed container check): the line the
  // program logs; the verdicts are then empty.
  std::string imageStopLine;
  std::string imageIdentity;
  std::vector<TDriveVerdict> drives;  // one per discovered drive, in table order
};

TCheckReport CheckDrives(TAtapi& atapi, const TFirmwareImage& image, TClock& clock);

// The report as the user reads it, one line per drive (or the one line of an image that
// stops every run), ending with "Can't find the device to upgrade !!" when no drive is
// listed. Both front ends show exactly these lines.
std::vector<std::string> CheckReportLines(const TCheckReport& report);

}  // namespace tavo
