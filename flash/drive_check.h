// The check before a run: which drives a flash run would take past its checks, found with
// reading commands only. It repeats the engine's own start-up matching, family gate, model
// check and design-marker search (INQUIRY, the patch region's reads and the firmware read)
// on every drive, and never sends what a run sends to prepare or change a drive (no
// StopPlayScan, no StartStopUnit, no patch-region rewrite, no download or commit). The
// marker is searched in the firmware as the run's patch-region refresh would leave it, so
// that check and run come to the same verdict. A drive another program holds is reported
// busy and gets no command at all.
#pragma once

#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "image/firmware_image.h"

namespace tavo {

// Keeps drives from other programs while the check talks to them.
class TDriveClaims {
 public:
  virtual ~TDriveClaims() = default;
  // True when device is now held for the check (until ReleaseAll); false when another
  // program holds it.
  virtual bool Claim(const std::string& device) = 0;
  virtual void ReleaseAll() = 0;
};

struct TDriveVerdict {
  int row = -1;          // drive-table row
  std::string item;      // the drive's list text ("<identity> <revision>")
  int listIndex = -1;    // its place in the list of matching drives; -1 when not listed
  bool passes = false;   // a run would get past the checks
  bool busy = false;     // another program holds the drive: it was not checked
  std::string device;    // its device node or name
  std::string stopLine;  // the log line that would stop the run (empty when it passes)
};

struct TCheckReport {
  // The image itself stops every run (no identity, failed container check): the line the
  // program logs; the verdicts are then empty.
  std::string imageStopLine;
  std::string imageIdentity;
  std::vector<TDriveVerdict> drives;  // one per discovered drive, in table order
};

// claims: asked for every drive before anything is sent (none: every drive is checked).
// onlyItem (a list index) or onlyDevice, when given: that drive alone is checked and
// reported (the others are still searched for, as a run's start-up does).
TCheckReport CheckDrives(TAtapi& atapi, const TFirmwareImage& image, TClock& clock,
                         TDriveClaims* claims = nullptr, int onlyItem = -1,
                         const std::string& onlyDevice = {});

// The report as the user reads it, one line per drive (or the one line of an image that
// stops every run), ending with "Can't find the device to upgrade !!" when no drive is
// listed. Both front ends show exactly these lines.
std::vector<std::string> CheckReportLines(const TCheckReport& report);

}  // namespace tavo
