#include "emulator/recording_reader.h"

#include <limits>
#include <stdexcept>

#include "drive/recording_format.h"

namespace tavo {

namespace {

constexpr size_t kMaxLine = 4u << 20;

struct TBadLine : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const nlohmann::json& Need(const nlohmann::json& line, const char* key) {
  if (!line.contains(key)) throw TBadLine(std::string("no \"") + key + "\"");
  return line[key];
}

template <typename T>
T Unsigned(const nlohmann::json& line, const char* key, uint64_t max) {
  const nlohmann::json& v = Need(line, key);
  if (!v.is_number_unsigned() || v.get<uint64_t>() > max) {
    throw TBadLine(std::string("\"") + key + "\" is not a number from 0 to " + std::to_string(max));
  }
  return static_cast<T>(v.get<uint64_t>());
}

int Integer(const nlohmann::json& line, const char* key) {
  const nlohmann::json& v = Need(line, key);
  if (!v.is_number_integer() || v.get<int64_t>() < std::numeric_limits<int>::min() ||
      v.get<int64_t>() > std::numeric_limits<int>::max()) {
    throw TBadLine(std::string("\"") + key + "\" is not an integer");
  }
  return static_cast<int>(v.get<int64_t>());
}

std::string Text(const nlohmann::json& line, const char* key) {
  const nlohmann::json& v = Need(line, key);
  if (!v.is_string()) throw TBadLine(std::string("\"") + key + "\" is not text");
  return v.get<std::string>();
}

bool Flag(const nlohmann::json& line, const char* key) {
  const nlohmann::json& v = Need(line, key);
  if (!v.is_boolean()) throw TBadLine(std::string("\"") + key + "\" is not true or false");
  return v.get<bool>();
}

std::vector<uint8_t> HexField(const nlohmann::json& line, const char* key, size_t maxBytes) {
  const std::optional<std::vector<uint8_t>> bytes = rec::FromHex(Text(line, key));
  if (!bytes || bytes->size() > maxBytes) {
    throw TBadLine(std::string("\"") + key + "\" is not hex of at most " +
                   std::to_string(maxBytes) + " bytes");
  }
  return *bytes;
}

void ReadHeader(const nlohmann::json& line, TRecording& out) {
  if (Text(line, "type") != "header") throw TBadLine("the first line is not the header");
  if (Text(line, "format") != rec::kFormatName) throw TBadLine("not a TAVOFlash recording");
  if (Integer(line, "format_version") != rec::kFormatVersion) {
    throw TBadLine("format version " + std::to_string(Integer(line, "format_version")) +
                   " is not " + std::to_string(rec::kFormatVersion));
  }
  const std::string transport = Text(line, "transport");
  if (transport != "sptd" && transport != "aspi") throw TBadLine("unknown transport");
  out.aspi = transport == "aspi";
  out.header = line;
}

TRecordedCommand ReadCommand(const nlohmann::json& line, const TRecording& out) {
  TRecordedCommand c;
  c.seq = Unsigned<uint64_t>(line, "seq", std::numeric_limits<uint32_t>::max());
  if (c.seq != out.commands.size() + 1) {
    throw TBadLine("command " + std::to_string(c.seq) + " where command " +
                   std::to_string(out.commands.size() + 1) + " belongs");
  }
  c.tMs = Unsigned<uint64_t>(line, "t_ms", std::numeric_limits<uint32_t>::max());
  c.ms = line.contains("ms") ? Unsigned<uint64_t>(line, "ms", 24u * 3600 * 1000) : 0;
  if (!out.commands.empty() && c.tMs < out.commands.back().tMs) {
    throw TBadLine("t_ms goes back in time");
  }
  c.transport = Text(line, "transport");
  if (c.transport != (out.aspi ? "aspi" : "sptd")) {
    throw TBadLine("a command of another transport than the header's");
  }
  c.device = Text(line, "device");
  c.cdb = HexField(line, "cdb", 16);
  if (c.cdb.empty()) throw TBadLine("\"cdb\" is empty");
  c.direction = Text(line, "direction");
  if (c.direction != "none" && c.direction != "in" && c.direction != "out") {
    throw TBadLine("\"direction\" is not none, in or out");
  }
  c.length = Unsigned<uint32_t>(line, "length", 1u << 20);
  if (line.contains("data_out")) c.dataOut = line["data_out"];
  if (!c.dataOut.is_null() && !c.dataOut.is_string() &&
      !(c.dataOut.is_object() && c.dataOut.contains("sha256") && c.dataOut.contains("length"))) {
    throw TBadLine("\"data_out\" is neither null, hex nor a digest");
  }
  std::string why;
  if (line.contains("data_in")) {
    c.dataIn = line["data_in"];
    if (!rec::DataInWellFormed(c.dataIn, why)) throw TBadLine(why);
  }
  if (line.contains("sense")) c.sense = HexField(line, "sense", 32);
  if (c.transport == "sptd") {
    c.transportError = line.contains("transport_error") ? Integer(line, "transport_error") : 0;
    c.status = Unsigned<uint8_t>(line, "status", 255);
    return c;
  }
  c.submitStatus = Unsigned<uint8_t>(line, "submit_status", 255);
  c.wait = line.contains("wait") ? Text(line, "wait") : "none";
  if (c.wait != "none" && c.wait != "signalled" && c.wait != "timeout" && c.wait != "failed") {
    throw TBadLine("\"wait\" is not none, signalled, timeout or failed");
  }
  c.accessError = line.contains("access_error") ? Integer(line, "access_error") : 0;
  if (c.wait == "none" || c.wait == "signalled") {
    c.status = Unsigned<uint8_t>(line, "status", 255);
    c.haStatus = Unsigned<uint8_t>(line, "ha_status", 255);
    c.targetStatus = Unsigned<uint8_t>(line, "target_status", 255);
  }
  return c;
}

void ReadLine(const nlohmann::json& line, TRecording& out) {
  const std::string type = Text(line, "type");
  if (type == "cmd") {
    out.commands.push_back(ReadCommand(line, out));
  } else if (type == "slots") {
    out.slotCount = Unsigned<int>(line, "count", 1024);
  } else if (type == "slot") {
    TRecordedSlot& slot = out.slots[Unsigned<int>(line, "slot", 1024)];
    slot.optical = Flag(line, "optical");
    if (slot.optical) slot.name = Text(line, "name");
  } else if (type == "open") {
    TRecordedOpen& open = out.opens[Unsigned<int>(line, "slot", 1024)];
    open.handle = Integer(line, "handle");
    open.error = Integer(line, "error");
  } else if (type == "aspi_load") {
    out.aspiLoaded = Flag(line, "ok");
  } else if (type == "support_info") {
    out.supportInfo = Unsigned<uint32_t>(line, "value", std::numeric_limits<uint32_t>::max());
  } else if (type == "dev_type") {
    TRecordedProbe& probe =
        out.probes[{Unsigned<int>(line, "ha", 255), Unsigned<int>(line, "target", 255),
                    Unsigned<int>(line, "lun", 255)}];
    probe.status = Unsigned<uint8_t>(line, "status", 255);
    probe.deviceType = Unsigned<uint8_t>(line, "device_type", 255);
  } else if (type == "header") {
    throw TBadLine("a second header");
  } else {
    throw TBadLine("unknown line type \"" + type + "\"");
  }
}

}  // namespace

std::optional<TRecording> ReadRecording(std::istream& in, std::string& error) {
  TRecording out;
  std::string text;
  size_t number = 0;
  while (std::getline(in, text)) {
    ++number;
    try {
      // Every line the recorder writes ends with a line feed: a last line without one
      // was cut short, even when what is left happens to parse.
      if (in.eof()) throw TBadLine("the line is cut short (no line end)");
      if (text.size() > kMaxLine) throw TBadLine("the line is too long");
      const nlohmann::json line = nlohmann::json::parse(text);
      if (!line.is_object()) throw TBadLine("not a JSON object");
      if (number == 1) {
        ReadHeader(line, out);
      } else {
        ReadLine(line, out);
      }
    } catch (const nlohmann::json::exception& e) {
      error = "line " + std::to_string(number) + ": not JSON (" + e.what() + ")";
      return std::nullopt;
    } catch (const TBadLine& e) {
      error = "line " + std::to_string(number) + ": " + e.what();
      return std::nullopt;
    }
  }
  if (number == 0) {
    error = "line 1: the recording is empty";
    return std::nullopt;
  }
  if (in.bad()) {
    error = "line " + std::to_string(number + 1) + ": the recording could not be read";
    return std::nullopt;
  }
  return out;
}

}  // namespace tavo
