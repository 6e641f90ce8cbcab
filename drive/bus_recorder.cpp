#include "drive/bus_recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>

namespace tavo {

namespace {

// Sense bytes without their trailing zero bytes.
std::string SenseHex(const uint8_t* sense, size_t size) {
  while (size > 0 && sense[size - 1] == 0) --size;
  return rec::Hex({sense, size});
}

const char* WaitName(TWaitResult result) {
  switch (result) {
    case TWaitResult::Signalled:
      return "signalled";
    case TWaitResult::TimedOut:
      return "timeout";
    case TWaitResult::Failed:
      return "failed";
  }
  return "failed";
}

}  // namespace

TBusRecorder::TBusRecorder(TClock& clock, TLineWriter writer)
    : clock_(clock), writer_(std::move(writer)), startMs_(clock.NowMs()) {}

void TBusRecorder::WriteHeader(const TRecordingHeader& header) {
  nlohmann::ordered_json line = {{"type", "header"},
                                 {"format", rec::kFormatName},
                                 {"format_version", rec::kFormatVersion},
                                 {"program", header.program},
                                 {"program_version", header.programVersion},
                                 {"image", header.image},
                                 {"image_checksum", header.imageChecksum},
                                 {"kernel", header.kernel},
                                 {"transport", header.aspi ? "aspi" : "sptd"},
                                 {"data_out_hex_limit", rec::kDataOutHexLimit}};
  if (!header.mode.empty()) line["mode"] = header.mode;
  if (header.backup) line["backup"] = *header.backup;
  writer_(line.dump());
}

void TBusRecorder::WriteFact(const std::string& type, nlohmann::ordered_json fields) {
  nlohmann::ordered_json line = {{"type", type}};
  line.update(fields);
  writer_(line.dump());
}

uint64_t TBusRecorder::BeginCommand(std::span<const uint8_t> dataOut) {
  const uint64_t seq = nextSeq_++;
  carried_.AddSent(seq, dataOut);
  return seq;
}

nlohmann::ordered_json TBusRecorder::DataIn(uint64_t seq, std::span<const uint8_t> bytes) {
  nlohmann::ordered_json recorded = rec::DataInJson(bytes, carried_);
  carried_.AddReceived(seq, bytes);
  return recorded;
}

void TBusRecorder::WriteCommand(uint64_t seq, uint64_t startMs, nlohmann::ordered_json fields,
                                std::optional<uint64_t> endMs) {
  nlohmann::ordered_json line = {{"type", "cmd"},
                                 {"seq", seq},
                                 {"t_ms", startMs - startMs_},
                                 {"ms", endMs.value_or(clock_.NowMs()) - startMs}};
  line.update(fields);
  // Fields at their usual value are left out to keep recordings small.
  for (const char* key : {"ms", "data_out", "sense", "transport_error", "access_error", "wait"}) {
    const auto it = line.find(key);
    if (it == line.end()) continue;
    if (it->is_null() || (it->is_string() && (it->get<std::string>().empty() || *it == "none")) ||
        (it->is_number() && *it == 0)) {
      line.erase(it);
    }
  }
  writer_(line.dump());
}

// ---- pass-through ------------------------------------------------------------------

TRecordingPassThroughPort::TRecordingPassThroughPort(TPassThroughPort& inner,
                                                     TBusRecorder& recorder)
    : inner_(inner), recorder_(recorder) {}

int TRecordingPassThroughPort::SlotCount() {
  const int count = inner_.SlotCount();
  recorder_.WriteFact("slots", {{"count", count}});
  return count;
}

bool TRecordingPassThroughPort::IsOpticalSlot(int slot) {
  const bool optical = inner_.IsOpticalSlot(slot);
  nlohmann::ordered_json fields = {{"slot", slot}, {"optical", optical}};
  if (optical) fields["name"] = inner_.SlotName(slot);
  recorder_.WriteFact("slot", fields);
  return optical;
}

std::string TRecordingPassThroughPort::SlotName(int slot) {
  return inner_.SlotName(slot);
}

TDeviceHandle TRecordingPassThroughPort::Open(int slot, int& error) {
  const TDeviceHandle handle = inner_.Open(slot, error);
  if (handle != kInvalidHandle) names_[handle] = inner_.SlotName(slot);
  recorder_.WriteFact(
      "open",
      {{"slot", slot}, {"handle", handle}, {"error", handle == kInvalidHandle ? error : 0}});
  return handle;
}

int TRecordingPassThroughPort::Execute(TDeviceHandle handle, TPassThroughBlock& block) {
  TScsiPassThroughDirect& sptd = block.Sptd;
  const uint8_t dir = PassThroughDirection(sptd.DataIn);
  const uint32_t length = sptd.DataBuffer != nullptr ? sptd.DataTransferLength : 0;
  const std::span<const uint8_t> out = dir == kDirOut
                                           ? std::span<const uint8_t>(sptd.DataBuffer, length)
                                           : std::span<const uint8_t>();
  const uint64_t seq = recorder_.BeginCommand(out);
  const uint64_t startMs = recorder_.Clock().NowMs();
  nlohmann::ordered_json fields = {
      {"transport", "sptd"},
      {"device", names_.count(handle) != 0 ? names_[handle] : std::to_string(handle)},
      {"cdb", rec::Hex({sptd.Cdb, std::min<size_t>(sptd.CdbLength, sizeof sptd.Cdb)})},
      {"direction", rec::DirectionName(dir)},
      {"length", sptd.DataTransferLength},
      {"data_out", rec::DataOutJson(out)}};

  const int error = inner_.Execute(handle, block);

  fields["transport_error"] = error;
  fields["status"] = sptd.ScsiStatus;
  fields["sense"] = SenseHex(block.SenseBuf, sizeof block.SenseBuf);
  if (dir == kDirIn && length > 0) {
    fields["data_in"] = recorder_.DataIn(seq, {sptd.DataBuffer, length});
  }
  recorder_.WriteCommand(seq, startMs, std::move(fields));
  return error;
}

void TRecordingPassThroughPort::Close(TDeviceHandle handle) {
  names_.erase(handle);
  inner_.Close(handle);
}

// ---- ASPI --------------------------------------------------------------------------

TRecordingAspiPort::TRecordingAspiPort(TAspiPort& inner, TBusRecorder& recorder)
    : inner_(inner), recorder_(recorder) {}

TRecordingAspiPort::~TRecordingAspiPort() {
  Finish();
}

void TRecordingAspiPort::Capture() {
  TSrbExecSCSICmd& srb = *open_->srb;
  nlohmann::ordered_json& f = open_->fields;
  open_->delivered = true;
  f["status"] = srb.SRB_Status;
  f["ha_status"] = srb.SRB_HaStat;
  f["target_status"] = srb.SRB_TargStat;
  // The sense area is written only when sense data came back: unchanged means none.
  if (std::memcmp(open_->senseBefore, srb.SenseArea, sizeof srb.SenseArea) != 0) {
    f["sense"] = rec::Hex({srb.SenseArea, sizeof srb.SenseArea});
  }
  if (SrbDirection(srb.SRB_Flags) == kDirIn && srb.SRB_BufLen > 0 &&
      srb.SRB_BufPointer != nullptr) {
    f["data_in"] = recorder_.DataIn(open_->seq, {srb.SRB_BufPointer, srb.SRB_BufLen});
  }
}

void TRecordingAspiPort::Finish() {
  if (!open_) return;
  TOpen done = std::move(*open_);
  open_.reset();
  nlohmann::ordered_json& f = done.fields;
  f["submit_status"] = done.submitStatus;
  f["wait"] = done.wait;
  f["access_error"] = done.accessError;
  recorder_.WriteCommand(done.seq, done.startMs, std::move(f), done.endMs);
}

bool TRecordingAspiPort::Load() {
  Finish();
  const bool ok = inner_.Load();
  recorder_.WriteFact("aspi_load", {{"ok", ok}});
  return ok;
}

void TRecordingAspiPort::Unload() {
  Finish();
  inner_.Unload();
}

uint32_t TRecordingAspiPort::GetSupportInfo() {
  Finish();
  const uint32_t info = inner_.GetSupportInfo();
  recorder_.WriteFact("support_info", {{"value", info}});
  return info;
}

uint32_t TRecordingAspiPort::SendGetDevType(TSrbGDEVBlock& srb) {
  Finish();
  const uint32_t rc = inner_.SendGetDevType(srb);
  nlohmann::ordered_json fields = {{"ha", srb.SRB_HaId},
                                   {"target", srb.SRB_Target},
                                   {"lun", srb.SRB_Lun},
                                   {"status", srb.SRB_Status},
                                   {"device_type", srb.SRB_DeviceType}};
  // The device's name, when the port has one: a replay then names the drive as the run did.
  const std::string name = inner_.DeviceName(srb.SRB_HaId, srb.SRB_Target, srb.SRB_Lun);
  if (!name.empty()) fields["name"] = name;
  recorder_.WriteFact("dev_type", std::move(fields));
  return rc;
}

std::string TRecordingAspiPort::DeviceName(uint8_t haId, uint8_t target, uint8_t lun) {
  return inner_.DeviceName(haId, target, lun);
}

uint32_t TRecordingAspiPort::SendExec(TSrbExecSCSICmd& srb) {
  Finish();
  const uint8_t dir = SrbDirection(srb.SRB_Flags);
  const uint32_t length = srb.SRB_BufPointer != nullptr ? srb.SRB_BufLen : 0;
  const std::span<const uint8_t> out = dir == kDirOut
                                           ? std::span<const uint8_t>(srb.SRB_BufPointer, length)
                                           : std::span<const uint8_t>();
  TOpen cmd;
  cmd.srb = &srb;
  cmd.seq = recorder_.BeginCommand(out);
  cmd.startMs = recorder_.Clock().NowMs();
  std::memcpy(cmd.senseBefore, srb.SenseArea, sizeof srb.SenseArea);
  char device[32];
  std::snprintf(device, sizeof device, "%u:%u:%u", unsigned{srb.SRB_HaId}, unsigned{srb.SRB_Target},
                unsigned{srb.SRB_Lun});
  cmd.fields = {
      {"transport", "aspi"},
      {"device", device},
      {"cdb", rec::Hex({srb.CDBByte, std::min<size_t>(srb.SRB_CDBLen, sizeof srb.CDBByte)})},
      {"direction", rec::DirectionName(dir)},
      {"length", srb.SRB_BufLen},
      {"data_out", rec::DataOutJson(out)}};

  const uint32_t rc = inner_.SendExec(srb);

  cmd.submitStatus = srb.SRB_Status;
  cmd.endMs = recorder_.Clock().NowMs();
  open_ = std::move(cmd);
  if (srb.SRB_Status != SS_PENDING) Capture();
  return rc;
}

int TRecordingAspiPort::TakeAccessError() {
  const int error = inner_.TakeAccessError();
  if (open_) {
    open_->accessError = error;
    if (open_->delivered) Finish();
  }
  return error;
}

TWaitResult TRecordingAspiPort::WaitEvent(TEventHandle event, uint32_t timeoutMs) {
  const TWaitResult result = inner_.WaitEvent(event, timeoutMs);
  if (open_ && !open_->delivered && open_->srb->SRB_PostProc == event) {
    open_->wait = WaitName(result);
    open_->endMs = recorder_.Clock().NowMs();
    if (result == TWaitResult::Signalled) Capture();
    Finish();
  }
  return result;
}

uint32_t TRecordingAspiPort::SendAbort(TSrbAbort& srb) {
  Finish();
  return inner_.SendAbort(srb);
}

TEventHandle TRecordingAspiPort::CreateEvent() {
  Finish();
  return inner_.CreateEvent();
}

void TRecordingAspiPort::CloseEvent(TEventHandle event) {
  Finish();
  inner_.CloseEvent(event);
}

}  // namespace tavo
