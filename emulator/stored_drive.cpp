#include "emulator/stored_drive.h"

#include <cstring>

#include "drive/recording_format.h"
#include "drive/scsi.h"

namespace tavo {
namespace {

constexpr char kMagic[] = "TAVOVDRV";
constexpr size_t kMagicLength = 8;
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxProfileName = 64;
constexpr size_t kDigestLength = 64;
constexpr uint32_t kMemorySize = scsi::kMaxBanks * scsi::kBankSize;

void Append(std::vector<uint8_t>& out, const void* bytes, size_t n) {
  const size_t at = out.size();
  out.resize(at + n);
  if (n > 0) std::memcpy(out.data() + at, bytes, n);
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Reads the file front to back; every read is checked against what is left.
struct TReader {
  std::span<const uint8_t> bytes;
  size_t at = 0;

  bool Take(size_t n, std::span<const uint8_t>& out) {
    if (bytes.size() - at < n) return false;
    out = bytes.subspan(at, n);
    at += n;
    return true;
  }
  bool Le(int n, uint32_t& value) {
    std::span<const uint8_t> raw;
    if (!Take(static_cast<size_t>(n), raw)) return false;
    value = 0;
    for (int i = n - 1; i >= 0; --i) value = (value << 8) | raw[static_cast<size_t>(i)];
    return true;
  }
};

}  // namespace

std::vector<uint8_t> EncodeStoredDrive(const TStoredDrive& drive) {
  std::vector<uint8_t> out;
  out.reserve(kMagicLength + 4 + 2 + drive.profile.size() + kStoredInquirySize + 4 +
              drive.memory.size() + kDigestLength);
  Append(out, kMagic, kMagicLength);
  PutLe(out, kVersion, 4);
  const std::string name = drive.profile.substr(0, kMaxProfileName);
  PutLe(out, static_cast<uint32_t>(name.size()), 2);
  Append(out, name.data(), name.size());
  Append(out, drive.inquiry.data(), drive.inquiry.size());
  PutLe(out, static_cast<uint32_t>(drive.memory.size()), 4);
  Append(out, drive.memory.data(), drive.memory.size());
  const std::string digest = rec::Sha256Hex(out);
  Append(out, digest.data(), digest.size());
  return out;
}

std::optional<TStoredDrive> DecodeStoredDrive(std::span<const uint8_t> bytes, std::string& why) {
  TReader r{bytes};
  std::span<const uint8_t> magic;
  if (!r.Take(kMagicLength, magic) || std::memcmp(magic.data(), kMagic, kMagicLength) != 0) {
    why = kNotAStoredDrive;
    return std::nullopt;
  }
  const std::string ends = "it is cut short (" + std::to_string(bytes.size()) + " bytes)";
  uint32_t version = 0;
  uint32_t nameLength = 0;
  if (!r.Le(4, version)) {
    why = ends;
    return std::nullopt;
  }
  if (version != kVersion) {
    why = "it is of format version " + std::to_string(version) + ", this program reads " +
          std::to_string(kVersion);
    return std::nullopt;
  }
  TStoredDrive drive;
  std::span<const uint8_t> name;
  std::span<const uint8_t> inquiry;
  std::span<const uint8_t> memory;
  std::span<const uint8_t> digest;
  uint32_t memoryLength = 0;
  bool fits = true;
  const bool whole = r.Le(2, nameLength) && (fits = nameLength <= kMaxProfileName) &&
                     r.Take(nameLength, name) && r.Take(kStoredInquirySize, inquiry) &&
                     r.Le(4, memoryLength) && (fits = memoryLength == kMemorySize) &&
                     r.Take(memoryLength, memory);
  if (!whole) {
    why = fits ? ends : "its header is damaged";
    return std::nullopt;
  }
  const size_t body = r.at;
  if (!r.Take(kDigestLength, digest)) {
    why = ends;
    return std::nullopt;
  }
  if (r.at != bytes.size()) {
    why = "it goes on after its end";
    return std::nullopt;
  }
  if (rec::Sha256Hex(bytes.first(body)) != std::string(digest.begin(), digest.end())) {
    why = "its checksum does not match its content";
    return std::nullopt;
  }
  drive.profile.assign(name.begin(), name.end());
  std::memcpy(drive.inquiry.data(), inquiry.data(), kStoredInquirySize);
  drive.memory.assign(memory.begin(), memory.end());
  return drive;
}

}  // namespace tavo
