#include "session/drive_file.h"

#include <memory>
#include <utility>

#include "platform/atomic_file.h"

namespace tavo {
namespace {

std::string Prefix(const std::string& path) {
  return "--emulate: the virtual drive file " + path;
}

bool Write(const TVirtualDrive& drive, const std::string& path, std::string& why) {
  return WriteFileAtomically(path, EncodeStoredDrive(drive.Store()), why);
}

}  // namespace

std::optional<TStoredDrive> ReadDriveFile(const std::string& path, std::string& error,
                                          bool& missing) {
  std::string why;
  const std::optional<std::vector<uint8_t>> bytes =
      ReadWholeFile(path, kStoredDriveMaxFileSize, why, missing);
  if (!bytes) {
    error = Prefix(path) + " cannot be read: " + why;
    return std::nullopt;
  }
  std::optional<TStoredDrive> stored = DecodeStoredDrive(*bytes, why);
  if (!stored) {
    error = why == kNotAStoredDrive
                ? "--emulate: " + path + " is not a virtual drive file; name a new file or one " +
                      "an earlier run made"
                : Prefix(path) + " is damaged: " + why +
                      "; remove it to start the drive again from its profile";
  }
  return stored;
}

bool AttachDriveFile(TVirtualDrive& drive, const std::string& path,
                     std::function<void(const std::string&)> writeFailed, std::string& error) {
  bool missing = false;
  const std::optional<TStoredDrive> stored = ReadDriveFile(path, error, missing);
  std::string why;
  if (!stored && !missing) return false;
  if (!stored && !Write(drive, path, why)) {
    error = Prefix(path) + " cannot be made: " + why;
    return false;
  }
  if (stored && stored->profile != drive.Profile().name) {
    error = Prefix(path) + " holds a drive of profile \"" + stored->profile + "\", not \"" +
            drive.Profile().name + "\"";
    return false;
  }
  if (stored && !drive.Load(*stored)) {
    error = Prefix(path) + " is damaged: its memory has the wrong size";
    return false;
  }
  error.clear();
  auto reported = std::make_shared<bool>(false);
  drive.OnStoredChange([&drive, path, reported, report = std::move(writeFailed)] {
    std::string why;
    if (Write(drive, path, why) || *reported) return;
    *reported = true;
    if (report) report(Prefix(path) + " cannot be written: " + why);
  });
  return true;
}

}  // namespace tavo
