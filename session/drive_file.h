// A virtual drive bound to the file that keeps it between program runs
// (--emulate=PROFILE@FILE), so that a flash, a restore and a check made as separate program
// runs meet the same drive.
//
// Typical use:
//   TVirtualDrive& drive = bus.AddDrive(*FindProfile("default"));
//   std::string error;
//   if (!AttachDriveFile(drive, "sr0.vdrive", onWriteFailure, error)) { print error; exit 2; }
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "emulator/stored_drive.h"
#include "emulator/virtual_drive.h"

namespace tavo {

// The drive kept in the file at path. No value, with error a whole line naming the file and
// what is wrong with it, when it cannot be read or is not a whole, intact virtual drive
// file; missing is then set when nothing exists at path.
std::optional<TStoredDrive> ReadDriveFile(const std::string& path, std::string& error,
                                          bool& missing);

// Binds drive to the file at path. A missing file is made at once from the drive as it
// powered on (its profile); an existing one must be a whole, intact file made from the same
// profile, and the drive then takes its memory and INQUIRY data from it. False, with error a
// whole line naming the file, when the file cannot be read, is damaged, foreign or of
// another profile, or cannot be made; the drive is then as it powered on.
// From then on the file is written again, atomically, each time the drive's memory or
// INQUIRY data change. A write that fails is reported once to writeFailed (a line naming the
// file and why); the drive goes on.
bool AttachDriveFile(TVirtualDrive& drive, const std::string& path,
                     std::function<void(const std::string&)> writeFailed, std::string& error);

}  // namespace tavo
