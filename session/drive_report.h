// What the front ends say about the drives beyond the procedure's own lines: the device
// node of a listed drive, and why no drive matches the image.
#pragma once

#include <string>
#include <vector>

#include "drive/atapi.h"
#include "flash/flash_state.h"

namespace tavo {

// The device node of list item `item` ("/dev/sr1"), empty when unknown or no such item.
std::string ItemDevice(const TAtapi& atapi, const TFlashState& state, int item);

// The list index of the item whose drive sits at device node `path`, -1 when none.
int ItemAtDevice(const TAtapi& atapi, const TFlashState& state, const std::string& path);

// One optical drive the search found, as a report names it.
struct TFoundDrive {
  std::string node;  // device node, empty when unknown
  std::string vendor;
  std::string product;
  std::string revision;
  int listIndex = -1;  // its item in the drive list, -1 when not listed
  std::string whyNot;  // why it is not listed; empty when it is
};

// Every drive of the search, in table order, with its list item or why it has none.
// imageIdentity: the model the image is for (its INQUIRY template's identity).
std::vector<TFoundDrive> FoundDrives(const TAtapi& atapi, const TFlashState& state,
                                     const std::string& imageIdentity);

// Why no drive matches the image identity, in lines: either no optical drive was found
// (and whether access to one was refused), or the optical drives found, each with vendor,
// product, revision and device node, none of them the image's model. program: when given,
// a last line says how to try that program without a drive (--emulate).
std::vector<std::string> NoDriveReasons(const TAtapi& atapi, const std::string& imageIdentity,
                                        const std::string& program = {});

// The drive a run on the selected item would write, and the revision change.
struct TFlashTarget {
  int item = -1;
  std::string device;        // "/dev/sr0"
  std::string model;         // "TAVO QRD-1040C"
  std::string fromRevision;  // what the drive reports now
  std::string toRevision;    // the image's
};
TFlashTarget SelectedTarget(const TAtapi& atapi, const TFlashState& state);
// "drive [0] /dev/sr0 (TAVO QRD-1040C) from 1.05 to 1.08", and after it what the change is
// when it is no upgrade: "from 1.10 to 1.08 (an older revision: a downgrade)" (see
// RevisionChangeNote in session/revision_policy.h).
std::string TargetText(const TFlashTarget& target);

}  // namespace tavo
