// Reads a session recording (the format of drive/recording_format.h) into memory, checking
// every line before any of it is used: a recording that does not parse is rejected whole,
// with the line number and what was wrong.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace tavo {

struct TRecordedCommand {
  uint64_t seq = 0;
  uint64_t tMs = 0;
  uint64_t ms = 0;  // how long the command took
  std::string transport;
  std::string device;
  std::vector<uint8_t> cdb;
  std::string direction;  // "none", "in", "out"
  uint32_t length = 0;
  nlohmann::json dataOut;  // null when nothing was sent
  uint8_t status = 0;
  std::optional<std::vector<uint8_t>> sense;  // none: no sense data came back
  nlohmann::json dataIn;                      // null when nothing came back
  // Pass-through.
  int transportError = 0;
  // sg driver.
  uint8_t submitStatus = 0;
  std::string wait = "none";  // "none", "signalled", "timeout", "failed"
  uint8_t haStatus = 0;
  uint8_t targetStatus = 0;
  int accessError = 0;
};

struct TRecordedSlot {
  bool optical = false;
  std::string name;
};

struct TRecordedOpen {
  int handle = -1;
  int error = 0;
};

struct TRecordedProbe {
  uint8_t status = 0;
  uint8_t deviceType = 0;
  std::string name;  // the device's name ("/dev/sr0"); empty when not recorded
};

struct TRecording {
  nlohmann::json header;
  bool aspi = false;
  std::optional<int> slotCount;
  std::map<int, TRecordedSlot> slots;
  std::map<int, TRecordedOpen> opens;
  std::optional<bool> aspiLoaded;
  std::optional<uint32_t> supportInfo;
  std::map<std::tuple<int, int, int>, TRecordedProbe> probes;
  std::vector<TRecordedCommand> commands;  // in order, seq 1, 2, ...
};

// The whole recording, or nothing with error "line N: what was wrong" (no text of the
// parser's own). Refused besides what breaks the format: a line that is not text, nested
// deeper than 16 levels or longer than 1 MiB, and more than 256 MiB in all; none of it is
// read further than the limit.
std::optional<TRecording> ReadRecording(std::istream& in, std::string& error);

// The recording in the file at path: a folder, a device, a FIFO, a socket or a file over
// 256 MiB is refused before anything is read (error says what it is), the rest as by
// ReadRecording.
std::optional<TRecording> ReadRecordingFile(const std::string& path, std::string& error);

}  // namespace tavo
