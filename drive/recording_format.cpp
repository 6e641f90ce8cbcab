#include "drive/recording_format.h"

#include <openssl/evp.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "drive/ports.h"

namespace tavo::rec {

namespace {

constexpr size_t kBlock = 256;
constexpr size_t kMinFill = 32;   // shorter runs of one value stay in the hex text
constexpr size_t kPackOver = 64;  // shorter replies are always plain hex
constexpr uint64_t kMaxReply = 1u << 20;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Hex(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::optional<std::vector<uint8_t>> FromHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int hi = HexDigit(text[2 * i]);
    const int lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return out;
}

std::string Sha256Hex(std::span<const uint8_t> bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return Hex({digest, length});
}

nlohmann::ordered_json DataOutJson(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return nullptr;
  if (bytes.size() <= kDataOutHexLimit) return Hex(bytes);
  return {{"sha256", Sha256Hex(bytes)}, {"length", bytes.size()}};
}

bool DataOutMatches(const nlohmann::json& recorded, std::span<const uint8_t> bytes) {
  if (recorded.is_null()) return bytes.empty();
  if (recorded.is_string()) {
    return bytes.size() <= kDataOutHexLimit && recorded.get<std::string>() == Hex(bytes);
  }
  return bytes.size() > kDataOutHexLimit && recorded.is_object() &&
         recorded.value("length", uint64_t{0}) == bytes.size() &&
         recorded.value("sha256", std::string()) == Sha256Hex(bytes);
}

const char* DirectionName(uint8_t dir) {
  if (dir == kDirIn) return "in";
  if (dir == kDirOut) return "out";
  return "none";
}

void TCarriedData::AddSent(uint64_t seq, std::span<const uint8_t> bytes) {
  if (bytes.size() > kDataOutHexLimit) Keep(seq, bytes);
}

void TCarriedData::AddReceived(uint64_t seq, std::span<const uint8_t> bytes) {
  if (bytes.size() >= kBlock) Keep(seq, bytes);
}

void TCarriedData::Keep(uint64_t seq, std::span<const uint8_t> bytes) {
  const std::vector<uint8_t>& kept = data_[seq] = {bytes.begin(), bytes.end()};
  for (size_t at = 0; at + kBlock <= kept.size(); at += kBlock) {
    blocks_.emplace(std::string(reinterpret_cast<const char*>(kept.data() + at), kBlock),
                    std::make_pair(seq, uint64_t{at}));
  }
}

std::optional<std::span<const uint8_t>> TCarriedData::Slice(uint64_t seq, uint64_t offset,
                                                            uint64_t count) const {
  const auto it = data_.find(seq);
  if (it == data_.end() || offset > it->second.size() || count > it->second.size() - offset) {
    return std::nullopt;
  }
  return std::span<const uint8_t>(it->second).subspan(offset, count);
}

std::optional<std::pair<uint64_t, uint64_t>> TCarriedData::FindBlock(
    std::span<const uint8_t> bytes) const {
  const auto it =
      blocks_.find(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (it == blocks_.end()) return std::nullopt;
  return it->second;
}

nlohmann::ordered_json DataInJson(std::span<const uint8_t> bytes, const TCarriedData& carried) {
  if (bytes.size() <= kPackOver) return Hex(bytes);
  nlohmann::ordered_json runs = nlohmann::ordered_json::array();
  std::vector<uint8_t> plain;
  const auto flushPlain = [&] {
    if (!plain.empty()) runs.push_back(Hex(plain));
    plain.clear();
  };
  size_t p = 0;
  while (p < bytes.size()) {
    if (p % kBlock == 0 && p + kBlock <= bytes.size()) {
      if (const auto block = carried.FindBlock(bytes.subspan(p, kBlock))) {
        flushPlain();
        nlohmann::ordered_json& last = runs.empty() ? runs : runs.back();
        // A block that continues the previous reference extends it.
        if (last.is_object() && last.contains("from") && last["from"] == block->first &&
            last["offset"].get<uint64_t>() + last["count"].get<uint64_t>() == block->second) {
          last["count"] = last["count"].get<uint64_t>() + kBlock;
        } else {
          runs.push_back({{"from", block->first}, {"offset", block->second}, {"count", kBlock}});
        }
        p += kBlock;
        continue;
      }
    }
    size_t run = 1;
    while (p + run < bytes.size() && bytes[p + run] == bytes[p]) ++run;
    if (run >= kMinFill) {
      flushPlain();
      runs.push_back({{"fill", Hex(bytes.subspan(p, 1))}, {"count", run}});
      p += run;
    } else {
      plain.push_back(bytes[p++]);
    }
  }
  flushPlain();
  if (runs.size() == 1 && runs[0].is_string()) return runs[0];
  return {{"length", bytes.size()}, {"runs", runs}};
}

namespace {

// Walks a data_in value; carried may be null (shape check only).
std::optional<std::vector<uint8_t>> Decode(const nlohmann::json& value, const TCarriedData* carried,
                                           std::string& error) {
  if (value.is_string()) {
    auto bytes = FromHex(value.get<std::string>());
    if (!bytes) error = "data_in is not hex";
    return bytes;
  }
  if (!value.is_object() || !value.contains("length") || !value["length"].is_number_unsigned() ||
      !value.contains("runs") || !value["runs"].is_array()) {
    error = "data_in is neither hex nor {\"length\", \"runs\"}";
    return std::nullopt;
  }
  const uint64_t length = value["length"].get<uint64_t>();
  if (length > kMaxReply) {
    error = "data_in is longer than any reply";
    return std::nullopt;
  }
  std::vector<uint8_t> out;
  for (const nlohmann::json& run : value["runs"]) {
    if (run.is_string()) {
      const auto bytes = FromHex(run.get<std::string>());
      if (!bytes) {
        error = "a data_in run is not hex";
        return std::nullopt;
      }
      out.insert(out.end(), bytes->begin(), bytes->end());
    } else if (run.is_object() && run.contains("count") && run["count"].is_number_unsigned() &&
               run["count"].get<uint64_t>() <= length) {
      const uint64_t count = run["count"].get<uint64_t>();
      if (run.contains("fill") && run["fill"].is_string()) {
        const auto fill = FromHex(run["fill"].get<std::string>());
        if (!fill || fill->size() != 1) {
          error = "a data_in fill is not one hex byte";
          return std::nullopt;
        }
        out.insert(out.end(), count, (*fill)[0]);
      } else if (run.contains("from") && run["from"].is_number_unsigned() &&
                 run.contains("offset") && run["offset"].is_number_unsigned()) {
        if (carried == nullptr) {
          out.insert(out.end(), count, 0);
        } else {
          const auto slice =
              carried->Slice(run["from"].get<uint64_t>(), run["offset"].get<uint64_t>(), count);
          if (!slice) {
            error = "a data_in run refers to data command " +
                    std::to_string(run["from"].get<uint64_t>()) + " did not carry";
            return std::nullopt;
          }
          out.insert(out.end(), slice->begin(), slice->end());
        }
      } else {
        error = "a data_in run is neither fill nor from";
        return std::nullopt;
      }
    } else {
      error = "a data_in run has no valid count";
      return std::nullopt;
    }
    if (out.size() > length) break;
  }
  if (out.size() != length) {
    error = "data_in runs do not add up to its length";
    return std::nullopt;
  }
  return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> DataInBytes(const nlohmann::json& value,
                                                const TCarriedData& carried, std::string& error) {
  return Decode(value, &carried, error);
}

bool DataInWellFormed(const nlohmann::json& value, std::string& error) {
  return Decode(value, nullptr, error).has_value();
}

}  // namespace tavo::rec
