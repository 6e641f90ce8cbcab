#include "drive/atapi.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "drive/scsi.h"

namespace tavo {

namespace {

constexpr uint32_t kAspiWaitMs = 30000;
constexpr uint8_t kStatusFailed = 4;  // same value as SS_ERR
constexpr int kPassThroughCountLimit = 4;

const char kAspiMissingText[] = "WNASPI32.DLL not found";

// Copies up to n characters of src into dst, stopping at a NUL in src and filling the rest
// of the n positions with NUL (the bounded copy used for identities).
void BoundedCopy(char* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i] != 0; ++i) dst[i] = static_cast<char>(src[i]);
  for (; i < n; ++i) dst[i] = 0;
}

bool IsAccessError(int code) {
  return code == EACCES || code == EPERM;
}

// strerror_r comes in two shapes (GNU returns a pointer, XSI an int); both are handled so
// the text always ends up in scratch or in the returned pointer.
[[maybe_unused]] const char* StrerrorText(int rc, const char* scratch, int& failure) {
  if (rc != 0) {
    failure = rc > 0 ? rc : errno;
    return nullptr;
  }
  return scratch;
}
[[maybe_unused]] const char* StrerrorText(const char* text, const char*, int&) {
  return text;
}

}  // namespace

TAtapi::TAtapi(const TAtapiConfig& config) : config_(config) {
  IsNtPlatform();
  if (ntPlatform_ == 0) {
    aspiLibrary_ = config_.aspiPort != nullptr && config_.aspiPort->Load();
    if (!aspiLibrary_) {
      if (config_.sink != nullptr) config_.sink->ShowPlainMessage(kAspiMissingText);
      return;
    }
    // Zero-filled, so the sense area reads 0 before any command returned sense data.
    execRequest_ = std::make_unique<TSrbExecSCSICmd>();
  }
  DiscoverDrives();
  SelectDrive(0);
}

TAtapi::~TAtapi() {
  execRequest_.reset();
  if (aspiLibrary_ && config_.aspiPort != nullptr) {
    config_.aspiPort->Unload();
    aspiLibrary_ = false;
  }
  if (config_.passThroughPort != nullptr) {
    for (const TDeviceHandle handle : openedHandles_) config_.passThroughPort->Close(handle);
  }
  openedHandles_.clear();
}

bool TAtapi::IsNtPlatform() {
  ntPlatform_ = config_.passThrough ? 1 : 0;
  return ntPlatform_ == 1;
}

uint8_t TAtapi::ExecCommand(const uint8_t* cdb, uint8_t* data, uint32_t length, uint8_t direction) {
  checkCondition_ = false;
  if (ntPlatform_ == 1) {
    uint8_t dataIn = kDataUnspecified;
    if (direction == kDirIn) {
      dataIn = kDataIn;
    } else if (direction == kDirOut) {
      dataIn = kDataOut;
    }
    return ExecPassThrough(cdb, data, length, dataIn);
  }

  TAspiPort* port = config_.aspiPort;
  if (port == nullptr || !execRequest_) return kStatusFailed;
  if (!aspiTargetSet_) return SS_NO_DEVICE;
  TEventHandle event = port->CreateEvent();
  if (event == kNoEvent) return kStatusFailed;

  TSrbExecSCSICmd& srb = *execRequest_;
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = haId_;
  srb.SRB_Flags = static_cast<uint8_t>(direction | SRB_EVENT_NOTIFY);
  srb.SRB_Target = targetId_;
  srb.SRB_Lun = lun_;
  srb.SRB_BufLen = length;
  srb.SRB_BufPointer = data;
  srb.SRB_SenseLen = kAspiSenseLength;
  srb.SRB_CDBLen = scsi::kCdbLength;
  srb.SRB_PostProc = event;
  std::memcpy(srb.CDBByte, cdb, scsi::kCdbLength);
  // Only a completion writes the target status and the sense area: cleared here, they
  // describe this command or nothing, never an earlier one.
  srb.SRB_HaStat = 0;
  srb.SRB_TargStat = 0;
  std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);

  port->SendExec(srb);
  const int accessError = port->TakeAccessError();
  if (IsAccessError(accessError)) ShowAccessHint("");
  if (srb.SRB_Status != SS_PENDING) {
    port->CloseEvent(event);
    NoteAspiCompletion(srb);
    return srb.SRB_Status;
  }
  const TWaitResult result = port->WaitEvent(event, kAspiWaitMs);
  port->CloseEvent(event);
  if (result == TWaitResult::Signalled) {
    NoteAspiCompletion(srb);
    return srb.SRB_Status;
  }
  // The port drops the request, so its late completion never reaches the caller's buffer,
  // which the caller may free as soon as this returns.
  AbortRequest();
  return kStatusFailed;
}

uint8_t TAtapi::ExecPassThrough(const uint8_t* cdb, uint8_t* data, uint32_t length,
                                uint8_t dataIn) {
  checkCondition_ = false;
  passThrough_ = TPassThroughBlock{};
  TScsiPassThroughDirect& sptd = passThrough_.Sptd;
  sptd.Length = kSptdLength;
  sptd.CdbLength = scsi::kCdbLength;
  sptd.SenseInfoLength = kPassThroughSenseLength;
  sptd.DataIn = dataIn;
  sptd.DataTransferLength = length;
  sptd.TimeOutValue = kPassThroughTimeoutSec;
  sptd.DataBuffer = data;
  sptd.SenseInfoOffset = kSenseInfoOffset;
  std::memcpy(sptd.Cdb, cdb, scsi::kCdbLength);

  const int error = config_.passThroughPort != nullptr
                        ? config_.passThroughPort->Execute(driveHandle_, passThrough_)
                        : ENODEV;
  if (error != 0 && error != EIO && error != ETIMEDOUT) {
    ShowSystemError(error);
    if (IsAccessError(error)) ShowAccessHint("");
    return 0;
  }
  checkCondition_ = sptd.ScsiStatus == scsi::kStatusCheckCondition;
  if (sptd.ScsiStatus != 0) return sptd.ScsiStatus;
  // A time-out or a host/driver fault without a SCSI status: the command did not finish,
  // so it failed, although no message is shown for it.
  return error == 0 ? 1 : kStatusFailed;
}

void TAtapi::NoteAspiCompletion(const TSrbExecSCSICmd& srb) {
  checkCondition_ = srb.SRB_Status != SS_COMP && srb.SRB_TargStat == scsi::kStatusCheckCondition;
}

void TAtapi::AbortRequest() {
  if (config_.aspiPort == nullptr) return;
  TSrbAbort abort;
  abort.SRB_Cmd = SC_ABORT_SRB;
  abort.SRB_HaId = haId_;
  abort.SRB_Flags = 0;
  abort.SRB_Hdr_Rsvd = 0;
  abort.SRB_ToAbort = execRequest_.get();
  config_.aspiPort->SendAbort(abort);
}

std::string SystemErrorMessage(const char* systemText, int lookupError) {
  constexpr size_t kTextBuffer = 80;  // the text and its terminating NUL must fit
  char buffer[kTextBuffer] = {};
  int failure = lookupError;
  if (systemText == nullptr) {
    if (failure == 0) failure = EINVAL;
  } else {
    const size_t len = std::strlen(systemText);
    if (len == 0) {
      failure = EINVAL;
    } else if (len >= kTextBuffer) {
      failure = ERANGE;  // the text does not fit the buffer
    } else {
      std::memcpy(buffer, systemText, len);
      failure = 0;
    }
  }
  char message[kTextBuffer + 64] = {};
  if (failure == 0) {
    std::snprintf(message, sizeof message, "%s\n", buffer);
  } else {
    std::snprintf(message, sizeof message, "Format message failed.  Error: %d\n", failure);
  }
  return message;
}

void TAtapi::ShowSystemError(int code) {
  char scratch[256] = {};
  int failure = 0;
  const char* text = StrerrorText(strerror_r(code, scratch, sizeof scratch), scratch, failure);
  const std::string message = SystemErrorMessage(text, failure);
  if (config_.sink != nullptr) config_.sink->ShowPlainMessage(message);
}

void TAtapi::ShowAccessHint(const std::string& device) {
  if (accessHintShown_) return;
  accessHintShown_ = true;
  const std::string what = device.empty() ? std::string("the drive") : device;
  if (config_.sink != nullptr) {
    config_.sink->ShowPlainMessage(
        "Access to " + what +
        " was refused. Add your user to the 'cdrom' group (then log in again) or run the "
        "program with sudo.");
  }
}

uint8_t TAtapi::LastSenseKey() const {
  if (!checkCondition_) return 0;
  if (ntPlatform_ == 1) return passThrough_.SenseBuf[scsi::kSenseKeyByte];
  return execRequest_ ? execRequest_->SenseArea[scsi::kSenseKeyByte] : 0;
}

uint8_t TAtapi::LastAsc() const {
  if (!checkCondition_) return 0;
  if (ntPlatform_ == 1) return passThrough_.SenseBuf[scsi::kSenseAscByte];
  return execRequest_ ? execRequest_->SenseArea[scsi::kSenseAscByte] : 0;
}

uint8_t TAtapi::LastAscq() const {
  if (!checkCondition_) return 0;
  if (ntPlatform_ == 1) return passThrough_.SenseBuf[scsi::kSenseAscqByte];
  return execRequest_ ? execRequest_->SenseArea[scsi::kSenseAscqByte] : 0;
}

uint8_t TAtapi::LastTargetStatus() const {
  if (ntPlatform_ == 1) return passThrough_.Sptd.ScsiStatus;
  return execRequest_ ? execRequest_->SRB_TargStat : 0;
}

int TAtapi::DiscoverDrives() {
  driveCount_ = 0;
  unreached_.clear();
  if (ntPlatform_ == 1) {
    TPassThroughPort* port = config_.passThroughPort;
    if (port == nullptr) return driveCount_;
    // Only the first 25 candidate slots are examined, whatever the port offers.
    const int slots = std::min(port->SlotCount(), scsi::kDriveSlots);
    for (int slot = 0; slot < slots; ++slot) {
      if (!port->IsOpticalSlot(slot)) continue;
      int error = 0;
      const TDeviceHandle handle = port->Open(slot, error);
      lastOpenedHandle_ = handle;
      if (handle == kInvalidHandle) {
        if (IsAccessError(error)) ShowAccessHint(port->SlotName(slot));
        continue;
      }
      openedHandles_.push_back(handle);
      driveHandle_ = handle;
      // Cleared first: a failed INQUIRY leaves an empty identity that matches no image.
      uint8_t inquiry[scsi::kInquiryLength] = {};
      Inquiry(inquiry);
      DriveEntry& row = drives_[driveCount_];
      row.Handle = handle;
      deviceNames_[driveCount_] = port->SlotName(slot);
      BoundedCopy(row.Identity, inquiry + scsi::kInquiryVendorByte, scsi::kInquiryIdentityLength);
      BoundedCopy(row.Revision, inquiry + scsi::kInquiryRevisionByte, scsi::kInquiryRevisionLength);
      // At most four drives are counted; later ones keep overwriting the uncounted row 4.
      if (driveCount_ < kPassThroughCountLimit) {
        ++driveCount_;
        continue;
      }
      // Not counted: kept by name for the user, and let go (nothing will be sent to it).
      unreached_.push_back({deviceNames_[driveCount_],
                            std::string(row.Identity, strnlen(row.Identity, sizeof row.Identity)),
                            std::string(row.Revision, strnlen(row.Revision, sizeof row.Revision))});
      std::erase(openedHandles_, handle);
      port->Close(handle);
      driveHandle_ = kInvalidHandle;
    }
    return driveCount_;
  }

  TAspiPort* port = config_.aspiPort;
  if (port == nullptr) return driveCount_;
  const int adapters = static_cast<int>(port->GetSupportInfo() & 0xFF);
  TSrbGDEVBlock& probe = probe_;
  for (int ha = 0; ha < adapters; ++ha) {
    for (int target = 0; target < 8; ++target) {
      for (int lun = 0; lun < 8; ++lun) {
        // The table has 20 rows: stop once it is full rather than write past it.
        if (driveCount_ >= kDriveTableRows) return driveCount_;
        probe.SRB_Cmd = SC_GET_DEV_TYPE;
        probe.SRB_HaId = static_cast<uint8_t>(ha);
        probe.SRB_Flags = 0;
        probe.SRB_Hdr_Rsvd = 0;
        probe.SRB_Target = static_cast<uint8_t>(target);
        probe.SRB_Lun = static_cast<uint8_t>(lun);
        probe.SRB_Rsvd1 = 0;
        port->SendGetDevType(probe);
        WaitForProbe();
        if (probe.SRB_Status != SS_COMP || probe.SRB_DeviceType != scsi::kDeviceTypeOptical)
          continue;
        DriveEntry& row = drives_[driveCount_];
        row.HaId = probe.SRB_HaId;
        row.TargetId = probe.SRB_Target;
        row.Lun = probe.SRB_Lun;
        deviceNames_[driveCount_] = port->DeviceName(row.HaId, row.TargetId, row.Lun);
        if (deviceNames_[driveCount_].empty()) {
          deviceNames_[driveCount_] = "aspi:" + std::to_string(row.HaId) + ":" +
                                      std::to_string(row.TargetId) + ":" + std::to_string(row.Lun);
        }
        SetTarget(probe.SRB_HaId, probe.SRB_Target, probe.SRB_Lun);
        uint8_t inquiry[scsi::kInquiryLength] = {};
        Inquiry(inquiry);
        std::memcpy(row.Identity, inquiry + scsi::kInquiryVendorByte, scsi::kInquiryIdentityLength);
        row.Identity[scsi::kInquiryIdentityLength] = 0;
        BoundedCopy(row.Revision, inquiry + scsi::kInquiryRevisionByte,
                    scsi::kInquiryRevisionLength);
        ++driveCount_;
      }
    }
  }
  return driveCount_;
}

void TAtapi::WaitForProbe() {
  if (probe_.SRB_Status != SS_PENDING) return;
  TRealClock realClock;
  TClock& clock = config_.clock != nullptr ? *config_.clock : realClock;
  constexpr uint32_t kPumpIntervalMs = 10;
  const uint64_t start = clock.NowMs();
  while (probe_.SRB_Status == SS_PENDING) {
    PumpMessage();
    if (probe_.SRB_Status != SS_PENDING) break;
    if (clock.NowMs() - start >= kAspiWaitMs) {
      // Still pending after as long as any command may take: nothing usable answers there.
      probe_.SRB_Status = SS_NO_DEVICE;
      break;
    }
    clock.Sleep(kPumpIntervalMs);
  }
}

std::string TAtapi::DeviceName(int row) const {
  return row >= 0 && row < kDriveTableRows ? deviceNames_[static_cast<size_t>(row)] : std::string();
}

void TAtapi::SetTarget(uint8_t haId, uint8_t target, uint8_t lun) {
  aspiTargetSet_ = true;
  haId_ = haId;
  targetId_ = target;
  lun_ = lun;
}

void TAtapi::SelectDrive(int32_t row) {
  // Only rows of the table can be selected; any other index leaves the current drive.
  if (row < 0 || row >= kDriveTableRows) return;
  const DriveEntry& entry = drives_[static_cast<size_t>(row)];
  aspiTargetSet_ = row < driveCount_;
  driveHandle_ = entry.Handle;
  haId_ = entry.HaId;
  targetId_ = entry.TargetId;
  lun_ = entry.Lun;
}

void TAtapi::PumpMessage() {
  if (config_.sink != nullptr) config_.sink->PumpMessage();
}

const DriveEntry& TAtapi::Drive(int row) const {
  static const DriveEntry kEmpty{};
  if (row < 0 || row >= kDriveTableRows) return kEmpty;
  return drives_[static_cast<size_t>(row)];
}

// The program-wide object and the unit's initialisation counter.

namespace {
int32_t gInitCounter = 0;
TAtapi* gAtapi = nullptr;
}  // namespace

void AtapiUnitInitialize(const TAtapiConfig& config) {
  if (gInitCounter-- == 0) gAtapi = new TAtapi(config);
}

void AtapiUnitFinalize() {
  if (gInitCounter++ == -1) {
    delete gAtapi;
    gAtapi = nullptr;
  }
}

TAtapi& Atapi() {
  if (gAtapi == nullptr) {
    std::fputs("TAVOFlash: drive access used before AtapiUnitInitialize\n", stderr);
    std::abort();
  }
  return *gAtapi;
}

bool AtapiExists() {
  return gAtapi != nullptr;
}

}  // namespace tavo
