// Session recording at the port seam: decorators around whichever ports a session uses
// (real devices or virtual drives) that pass every call through unchanged and write what
// went over the bus, one JSON line per fact, to a line writer. The format is described in
// drive/recording_format.h. No system calls here: the front end's session supplies the
// writer (a file flushed after every line) and the header facts.
//
// Typical use:
//   TBusRecorder recorder(clock, [&](const std::string& line) { file.Write(line); });
//   recorder.WriteHeader({...});
//   TRecordingPassThroughPort port(inner, recorder);  // TAtapi talks to port
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "drive/clock.h"
#include "drive/ports.h"
#include "drive/recording_format.h"

namespace tavo {

struct TRecordingHeader {
  std::string program;         // "tavoflash-cli"
  std::string programVersion;  // "1.01"
  std::string image;           // identity of the image the program carries
  std::string imageChecksum;   // "A8B4h"
  std::string kernel;          // "Linux 6.1.0-18-amd64 x86_64"
  bool aspi = false;           // the transport the session uses
  std::string mode;            // what the program did: "run", "check" or "list"
  // Whether a run reads the drive into a backup before it writes. Recordings made before
  // backups existed have no such field: a replay of one makes no backup either.
  std::optional<bool> backup;
};

// Numbers the commands and stamps the lines; shared by the two recording ports.
class TBusRecorder {
 public:
  using TLineWriter = std::function<void(const std::string& line)>;
  TBusRecorder(TClock& clock, TLineWriter writer);

  void WriteHeader(const TRecordingHeader& header);
  // Writes one fact line (a JSON object text); cmd lines get seq and t_ms here.
  void WriteFact(const std::string& type, nlohmann::ordered_json fields);
  // Starts a command: its number. The data it sends is kept when long (see TCarriedData).
  uint64_t BeginCommand(std::span<const uint8_t> dataOut);
  // The recorded form of command seq's reply, which is then kept for later replies to
  // refer to (a second read of the same memory).
  nlohmann::ordered_json DataIn(uint64_t seq, std::span<const uint8_t> bytes);
  // Writes a command's line; its duration runs from startMs to endMs (default: now).
  void WriteCommand(uint64_t seq, uint64_t startMs, nlohmann::ordered_json fields,
                    std::optional<uint64_t> endMs = std::nullopt);
  TClock& Clock() { return clock_; }

 private:
  TClock& clock_;
  TLineWriter writer_;
  uint64_t startMs_;
  uint64_t nextSeq_ = 1;
  rec::TCarriedData carried_;
};

class TRecordingPassThroughPort final : public TPassThroughPort {
 public:
  TRecordingPassThroughPort(TPassThroughPort& inner, TBusRecorder& recorder);
  int SlotCount() override;
  bool IsOpticalSlot(int slot) override;
  std::string SlotName(int slot) override;
  TDeviceHandle Open(int slot, int& error) override;
  int Execute(TDeviceHandle handle, TPassThroughBlock& block) override;
  void Close(TDeviceHandle handle) override;

 private:
  TPassThroughPort& inner_;
  TBusRecorder& recorder_;
  std::map<TDeviceHandle, std::string> names_;  // open handle -> device name
};

class TRecordingAspiPort final : public TAspiPort {
 public:
  TRecordingAspiPort(TAspiPort& inner, TBusRecorder& recorder);
  ~TRecordingAspiPort() override;
  bool Load() override;
  void Unload() override;
  uint32_t GetSupportInfo() override;
  uint32_t SendGetDevType(TSrbGDEVBlock& srb) override;
  uint32_t SendExec(TSrbExecSCSICmd& srb) override;
  uint32_t SendAbort(TSrbAbort& srb) override;
  TEventHandle CreateEvent() override;
  TWaitResult WaitEvent(TEventHandle event, uint32_t timeoutMs) override;
  void CloseEvent(TEventHandle event) override;
  int TakeAccessError() override;
  std::string DeviceName(uint8_t haId, uint8_t target, uint8_t lun) override;

 private:
  // The command whose line is not written yet: it is written once its outcome is known.
  struct TOpen {
    TSrbExecSCSICmd* srb = nullptr;
    uint64_t seq = 0;
    uint64_t startMs = 0;
    uint64_t endMs = 0;
    uint8_t submitStatus = 0;
    std::string wait = "none";
    int accessError = 0;
    bool delivered = false;
    uint8_t senseBefore[sizeof(TSrbExecSCSICmd::SenseArea)] = {};
    nlohmann::ordered_json fields;
  };
  void Capture();  // the open command completed: keeps what it delivered
  void Finish();   // writes the open command's line, if any

  TAspiPort& inner_;
  TBusRecorder& recorder_;
  std::optional<TOpen> open_;
};

}  // namespace tavo
