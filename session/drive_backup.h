// The drives' backups as both front ends keep and use them. A backup is two files in
// BackupDirectory(): the container (plain banks, flashable by the program itself: bank 0
// holds the drive's own INQUIRY template, so its identity is the drive's vendor, product
// and revision) and, beside it, a manifest NAME.json with the SHA-256 and size of the
// container, the SHA-256 of the memory as read, the identity, the program version and the
// time. No serial number is kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/backup_store.h"
#include "image/firmware_image.h"

namespace tavo {

struct TBackupManifest {
  std::string container;     // the container's file name, beside the manifest
  std::string sha256;        // of the container file
  uint64_t size = 0;         // of the container file
  std::string memorySha256;  // of the banks as read from the drive (TDriveBackup)
  std::string vendor;
  std::string product;
  std::string revision;
  std::string programVersion;
  std::string time;  // local time the backup was made, "2026-12-10 14:03:07"
};

// The store the flash run hands its backups to: files in directory (empty: the run's
// backup cannot be kept, and the run is refused). skipReason: non-empty when no backup is to
// be made (--no-backup), logged by the run as given.
class TBackupKeeper final : public TBackupStore {
 public:
  TBackupKeeper(std::string directory, std::string skipReason)
      : directory_(std::move(directory)), skipReason_(std::move(skipReason)) {}
  std::string SkipReason() const override { return skipReason_; }
  bool Keep(const TDriveBackup& backup, std::string& where) override;

 private:
  std::string directory_;
  std::string skipReason_;
};

class TDriveSession;
struct TStartupOptions;

// Why the runs of a session make no backup, empty when they make one: --no-backup, or a
// replay of a recording whose run made none (it holds no backup reads to answer).
std::string BackupSkipReason(const TStartupOptions& options, const TDriveSession& session);

// What --no-backup makes the run log.
inline constexpr const char* kNoBackupReason =
    "--no-backup was given; nothing of the drive's firmware is kept.";

// A backup read back for a restore, checked: the manifest parses, the container's size and
// SHA-256 are the manifest's, the container passes its check, and its identity (vendor and
// product) is the one the manifest names.
struct TLoadedBackup {
  std::string path;  // of the container
  TBackupManifest manifest;
  std::vector<uint8_t> container;
};

// path: the container or its manifest. Nothing with error set (a sentence naming the file)
// when it is not a usable backup.
std::optional<TLoadedBackup> LoadBackup(const std::string& path, std::string& error);

// The backups in directory (by their manifests), oldest first; manifests that do not parse
// are left out.
std::vector<std::pair<std::string, TBackupManifest>> ListBackups(const std::string& directory);

// True when the backup is of the drive model identity names: its first 24 characters, the
// vendor and product as a drive list item or an image identity holds them, are the
// manifest's.
bool BackupOfModel(const TBackupManifest& manifest, const std::string& identity);

// "TAVO QRD-1040C 1.05, 2026-12-10 14:03:07" for a list.
std::string BackupLine(const TBackupManifest& manifest);

// The question before a restore: "Restore drive [0] /dev/sr0 (TAVO QRD-1040C) from 1.08 to
// 1.05, the backup of 2026-12-10 14:03?" (targetText: TargetText of the drive).
std::string RestoreQuestion(const std::string& targetText, const TBackupManifest& manifest);

}  // namespace tavo
