#include "session/drive_backup.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "drive/recording_format.h"
#include "image/packer.h"
#include "platform/backup_files.h"
#include "session/drive_session.h"
#include "session/options.h"
#include "session/version.h"

namespace tavo {

namespace {

constexpr const char* kManifestFormat = "tavoflash-backup";
constexpr int kManifestVersion = 1;
constexpr size_t kManifestMaxBytes = 64 * 1024;

// Identity text without its blank padding.
std::string WithoutBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

// A file-name part: letters, digits, '.', '-' and '_' kept, everything else '_'.
std::string NamePart(const std::string& text) {
  std::string out = WithoutBlanks(text);
  for (char& c : out) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    if (!keep) c = '_';
  }
  return out.empty() ? std::string("unknown") : out;
}

std::string LocalTime(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

std::string ManifestText(const TBackupManifest& m) {
  const nlohmann::ordered_json j = {{"format", kManifestFormat},
                                    {"format_version", kManifestVersion},
                                    {"container", m.container},
                                    {"sha256", m.sha256},
                                    {"size", m.size},
                                    {"memory_sha256", m.memorySha256},
                                    {"vendor", m.vendor},
                                    {"product", m.product},
                                    {"revision", m.revision},
                                    {"program_version", m.programVersion},
                                    {"time", m.time}};
  return j.dump(2) + "\n";
}

std::optional<TBackupManifest> ParseManifest(const std::vector<uint8_t>& bytes,
                                             std::string& error) {
  const nlohmann::json j = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
  if (!j.is_object() || j.value("format", std::string()) != kManifestFormat ||
      !j.contains("format_version") || !j["format_version"].is_number_integer() ||
      j["format_version"].get<int>() != kManifestVersion) {
    error = "it is no TAVOFlash backup manifest";
    return std::nullopt;
  }
  TBackupManifest m;
  const auto text = [&j](const char* key) {
    return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
  };
  m.container = text("container");
  m.sha256 = text("sha256");
  m.memorySha256 = text("memory_sha256");
  m.vendor = text("vendor");
  m.product = text("product");
  m.revision = text("revision");
  m.programVersion = text("program_version");
  m.time = text("time");
  m.size = j.contains("size") && j["size"].is_number_unsigned() ? j["size"].get<uint64_t>() : 0;
  // The container must be a plain name beside the manifest, never a path elsewhere.
  if (m.container.empty() || m.container.find('/') != std::string::npos ||
      m.container.front() == '.' || m.sha256.size() != 64 || m.memorySha256.size() != 64) {
    error = "its manifest is incomplete";
    return std::nullopt;
  }
  return m;
}

std::string Ending(const std::string& path, const std::string& old, const std::string& now) {
  return path.size() > old.size() && path.compare(path.size() - old.size(), old.size(), old) == 0
             ? path.substr(0, path.size() - old.size()) + now
             : path + now;
}

}  // namespace

std::string BackupSkipReason(const TStartupOptions& options, const TDriveSession& session) {
  if (options.noBackup) return kNoBackupReason;
  if (session.ReplayWithoutBackup()) {
    return "this replays a recording whose run made no backup (made before backups existed, "
           "or with --no-backup).";
  }
  return {};
}

bool TBackupKeeper::Keep(const TDriveBackup& backup, std::string& where) {
  if (directory_.empty()) {
    where = "no folder for backups (neither XDG_STATE_HOME nor HOME is set)";
    return false;
  }
  pack::TPackInput input;
  input.IdentityCheckFlag = 0x20;
  input.ScrambleFlag = 0x00;  // plain banks
  input.Banks = backup.banks;
  std::vector<uint8_t> container;
  if (!pack::PackContainer(input, container, where)) return false;

  TBackupManifest m;
  m.sha256 = rec::Sha256Hex(container);
  m.size = container.size();
  m.memorySha256 = backup.memorySha256;
  m.vendor = backup.vendor;
  m.product = backup.product;
  m.revision = backup.revision;
  m.programVersion = ProgramVersion();
  m.time = LocalTime("%Y-%m-%d %H:%M:%S");
  const std::string base = NamePart(backup.vendor) + "-" + NamePart(backup.product) + "-" +
                           NamePart(backup.revision) + "-" + LocalTime("%Y%m%d-%H%M%S");
  // Two backups within one second get a suffix; an existing file is never replaced.
  for (int n = 0; n < 100; ++n) {
    const std::string name = base + (n == 0 ? "" : "-" + std::to_string(n));
    std::error_code ec;
    if (std::filesystem::exists(directory_ + "/" + name + ".bin", ec) ||
        std::filesystem::exists(directory_ + "/" + name + ".json", ec)) {
      continue;
    }
    m.container = name + ".bin";
    const std::string manifest = ManifestText(m);
    if (!WriteFileDurably(directory_, m.container, container, where) ||
        !WriteFileDurably(directory_, name + ".json",
                          {reinterpret_cast<const uint8_t*>(manifest.data()), manifest.size()},
                          where)) {
      return false;
    }
    where = directory_ + "/" + m.container;
    return true;
  }
  where = "too many backups named " + base + " in " + directory_;
  return false;
}

std::optional<TLoadedBackup> LoadBackup(const std::string& path, std::string& error) {
  const bool isManifest = path.size() > 5 && path.compare(path.size() - 5, 5, ".json") == 0;
  const std::string manifestPath = isManifest ? path : Ending(path, ".bin", ".json");
  std::string why;
  const auto manifestBytes = ReadWholeFile(manifestPath, kManifestMaxBytes, why);
  if (!manifestBytes) {
    error = path + " is not a backup this program made: its manifest " + manifestPath +
            " cannot be read (" + why + ").";
    return std::nullopt;
  }
  auto manifest = ParseManifest(*manifestBytes, why);
  if (!manifest) {
    error = manifestPath + " is not a backup manifest: " + why + ".";
    return std::nullopt;
  }
  const size_t slash = manifestPath.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : manifestPath.substr(0, slash);
  TLoadedBackup loaded;
  loaded.path = folder + "/" + manifest->container;
  const size_t limit = kImageHeaderSize + kMaxBanks * kBankSize;
  auto container = ReadWholeFile(loaded.path, limit, why);
  if (!container) {
    error = "the backup " + loaded.path + " cannot be read: " + why + ".";
    return std::nullopt;
  }
  if (container->size() != manifest->size || rec::Sha256Hex(*container) != manifest->sha256) {
    error = "the backup " + loaded.path +
            " is not what its manifest says (its size or SHA-256 differs): it was changed or "
            "damaged, and is not used.";
    return std::nullopt;
  }
  const TFirmwareImage image(*container);
  if (!image.Valid()) {
    error = "the backup " + loaded.path + " is damaged: " + image.CheckError() + ".";
    return std::nullopt;
  }
  const std::string identity = ImageIdentity(image);
  if (!BackupOfModel(*manifest, identity)) {
    error = "the backup " + loaded.path + " names the drive '" + manifest->vendor +
            manifest->product + "', but its firmware is for '" + identity.substr(0, 24) + "'.";
    return std::nullopt;
  }
  loaded.manifest = std::move(*manifest);
  loaded.container = std::move(*container);
  return loaded;
}

std::vector<std::pair<std::string, TBackupManifest>> ListBackups(const std::string& directory) {
  std::vector<std::pair<std::string, TBackupManifest>> out;
  for (const std::string& path : FilesEndingIn(directory, ".json")) {
    std::string error;
    const auto bytes = ReadWholeFile(path, kManifestMaxBytes, error);
    if (!bytes) continue;
    if (auto m = ParseManifest(*bytes, error)) {
      out.emplace_back(directory + "/" + m->container, std::move(*m));
    }
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return a.second.time < b.second.time; });
  return out;
}

bool BackupOfModel(const TBackupManifest& manifest, const std::string& identity) {
  constexpr size_t kModelLength = 24;  // vendor 8, product 16
  return identity.substr(0, kModelLength) == manifest.vendor + manifest.product;
}

std::string BackupLine(const TBackupManifest& m) {
  return WithoutBlanks(m.vendor) + " " + WithoutBlanks(m.product) + " " +
         WithoutBlanks(m.revision) + ", " + m.time;
}

std::string RestoreQuestion(const std::string& targetText, const TBackupManifest& manifest) {
  return "Restore " + targetText + ", the backup of " + manifest.time.substr(0, 16) + "?";
}

}  // namespace tavo
