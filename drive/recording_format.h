// The session recording format: one JSON object per line, written by the recording ports
// (drive/bus_recorder.h) and read back by the replay drives (emulator/replay_bus.h).
//
// Line types ("type"):
//   header        first line: format name and version, program and version, image identity
//                 and checksum, kernel, transport ("sptd" or "aspi")
//   slots         pass-through: number of candidate slots
//   slot          pass-through: one slot's optical flag and device name
//   open          pass-through: a device open, its handle and errno value
//   aspi_load     sg driver: whether the manager loaded
//   support_info  sg driver: the support-info word (low byte: host adapters)
//   dev_type      sg driver: one device probe (adapter, target, LUN, status, device type,
//                 and "name", the device's name, when the port gave one)
//   cmd           one command: seq (from 1), t_ms (since the recording began), transport,
//                 device, cdb (hex), direction ("none", "in", "out"), length, data_out,
//                 ms (its duration), status, sense (hex), the transport's own outcome
//                 (transport_error for pass-through; submit_status, wait, ha_status,
//                 target_status, access_error for the sg driver), data_in. Left out
//                 when usual: ms, transport_error and access_error 0, data_out null,
//                 sense "" (none came back), wait "none"; data_in when none came back.
//
// data_out: hex for up to kDataOutHexLimit bytes; longer data (the bank downloads) as
// {"sha256": hex, "length": N}. data_in: hex, or for replies worth packing
// {"length": N, "runs": [...]} where each run is a hex string, {"fill": "XX", "count": n}
// (n bytes of one value) or {"from": S, "offset": O, "count": n} (bytes O..O+n-1 of the
// data command S carried: what it sent, which the replay has seen go out again, or for a
// command that read, its reply as recorded; a read of memory read before refers to it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavo::rec {

inline constexpr const char* kFormatName = "tavoflash-recording";
inline constexpr int kFormatVersion = 1;
// Data sent to the drive up to this many bytes is recorded whole, longer data as a digest.
inline constexpr size_t kDataOutHexLimit = 4096;

std::string Hex(std::span<const uint8_t> bytes);
// Decodes lower- or upper-case hex; no value for odd length or a non-hex character.
std::optional<std::vector<uint8_t>> FromHex(const std::string& text);
std::string Sha256Hex(std::span<const uint8_t> bytes);

// The recorded form of data sent to the drive (null when there is none).
nlohmann::ordered_json DataOutJson(std::span<const uint8_t> bytes);
// True when bytes are the data a recorded data_out value stands for.
bool DataOutMatches(const nlohmann::json& recorded, std::span<const uint8_t> bytes);

const char* DirectionName(uint8_t dir);  // kDirNone / kDirIn / kDirOut

// The long data a session's commands carried, kept so that replies repeating it can refer
// to it: data sent, and replies of one 256-byte block or more.
class TCarriedData {
 public:
  // Keeps data sent by command seq when it is long (over kDataOutHexLimit bytes).
  void AddSent(uint64_t seq, std::span<const uint8_t> bytes);
  // Keeps the reply of command seq when it holds a whole 256-byte block.
  void AddReceived(uint64_t seq, std::span<const uint8_t> bytes);
  // Bytes offset..offset+count-1 of the data command seq carried, or nothing.
  std::optional<std::span<const uint8_t>> Slice(uint64_t seq, uint64_t offset,
                                                uint64_t count) const;
  // A kept 256-byte block equal to the bytes, as (seq, offset).
  std::optional<std::pair<uint64_t, uint64_t>> FindBlock(std::span<const uint8_t> bytes) const;

 private:
  void Keep(uint64_t seq, std::span<const uint8_t> bytes);
  std::map<uint64_t, std::vector<uint8_t>> data_;
  std::unordered_multimap<std::string, std::pair<uint64_t, uint64_t>> blocks_;
};

// The recorded form of data the drive returned.
nlohmann::ordered_json DataInJson(std::span<const uint8_t> bytes, const TCarriedData& carried);
// Decodes a data_in value; on failure returns nothing and says why in error.
std::optional<std::vector<uint8_t>> DataInBytes(const nlohmann::json& value,
                                                const TCarriedData& carried, std::string& error);
// Checks a data_in value's shape without the sent data (for parsing a whole recording).
bool DataInWellFormed(const nlohmann::json& value, std::string& error);

}  // namespace tavo::rec
