#include "emulator/recording_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "drive/recording_format.h"

namespace tavo {

namespace {

// The longest line a recording holds is a command with one 64 KiB bank as data in: 128 KiB
// of hex, about 130 KB with the rest of the line. 1 MiB leaves room for eight times that
// and still stops a file without line ends (a device, a binary) before it fills memory.
constexpr size_t kMaxLine = 1u << 20;
// A whole run with every command recorded is about half a megabyte; a file this large is
// no recording, and it would be read into memory whole.
constexpr uintmax_t kMaxFile = 256u << 20;
// Recordings nest objects three levels deep. Deeper nesting is refused before the line is
// parsed: values nested without bound would be copied and freed recursively.
constexpr int kMaxDepth = 16;

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
    if (line.contains("name")) {
      probe.name = Text(line, "name");
      const bool printable = std::all_of(probe.name.begin(), probe.name.end(),
                                         [](char c) { return c > 0x20 && c < 0x7F; });
      if (probe.name.empty() || probe.name.size() > 64 || !printable) {
        throw TBadLine("\"name\" is no device name");
      }
    }
  } else if (type == "header") {
    throw TBadLine("a second header");
  } else {
    throw TBadLine("unknown line type \"" + type + "\"");
  }
}

enum class TLineRead { Line, CutShort, End, TooLong, TooBig };

// The next line into text (without its line end), reading no more than kMaxLine bytes of
// it and no more than kMaxFile bytes of the file in all.
TLineRead NextLine(std::streambuf& in, std::string& text, uintmax_t& total) {
  text.clear();
  for (;;) {
    const int c = in.sbumpc();
    if (c == std::char_traits<char>::eof()) {
      return text.empty() ? TLineRead::End : TLineRead::CutShort;
    }
    if (++total > kMaxFile) return TLineRead::TooBig;
    if (c == '\n') return TLineRead::Line;
    if (text.size() == kMaxLine) return TLineRead::TooLong;
    text.push_back(static_cast<char>(c));
  }
}

// Why the raw line is not a line of text nested at most kMaxDepth deep, "" when it is.
// JSON allows no control characters but tab and carriage return outside strings and none
// inside them.
std::string CheckText(const std::string& text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t' && c != '\r') {
      char what[64];
      std::snprintf(what, sizeof what, "not text (byte %02Xh at character %zu)", c, i + 1);
      return what;
    }
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) {
        return "nested deeper than " + std::to_string(kMaxDepth) + " levels";
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return {};
}

}  // namespace

std::optional<TRecording> ReadRecording(std::istream& in, std::string& error) {
  TRecording out;
  std::string text;
  size_t number = 0;
  uintmax_t total = 0;
  std::streambuf* buffer = in.rdbuf();
  for (TLineRead read;
       buffer != nullptr && (read = NextLine(*buffer, text, total)) != TLineRead::End;) {
    ++number;
    const std::string at = "line " + std::to_string(number) + ": ";
    try {
      // Every line the recorder writes ends with a line feed: a last line without one
      // was cut short, even when what is left happens to parse.
      if (read == TLineRead::CutShort) throw TBadLine("the line is cut short (no line end)");
      if (read == TLineRead::TooLong) {
        throw TBadLine("the line is longer than " + std::to_string(kMaxLine >> 20) + " MiB");
      }
      if (read == TLineRead::TooBig) {
        throw TBadLine("the recording is larger than " + std::to_string(kMaxFile >> 20) + " MiB");
      }
      if (const std::string why = CheckText(text); !why.empty()) throw TBadLine(why);
      const nlohmann::json line = nlohmann::json::parse(text);
      if (!line.is_object()) throw TBadLine("not a JSON object");
      if (number == 1) {
        ReadHeader(line, out);
      } else {
        ReadLine(line, out);
      }
    } catch (const nlohmann::json::parse_error& e) {
      error = at + "not JSON (at character " + std::to_string(e.byte) + ")";
      return std::nullopt;
    } catch (const nlohmann::json::exception&) {
      error = at + "a value of the wrong kind";
      return std::nullopt;
    } catch (const TBadLine& e) {
      error = at + e.what();
      return std::nullopt;
    }
  }
  if (number == 0) {
    error = "line 1: the recording is empty";
    return std::nullopt;
  }
  return out;
}

std::optional<TRecording> ReadRecordingFile(const std::string& path, std::string& error) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) {
    error = "cannot be read: " + ec.message();
    return std::nullopt;
  }
  if (std::filesystem::is_directory(status)) {
    error = "is a folder, not a recording";
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error = "is not a regular file (a device, a FIFO or a socket), not a recording";
    return std::nullopt;
  }
  if (std::filesystem::file_size(path, ec) > kMaxFile) {
    error = "is larger than " + std::to_string(kMaxFile >> 20) + " MiB, not a recording";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot be read";
    return std::nullopt;
  }
  return ReadRecording(in, error);
}

}  // namespace tavo
