#include "flash/flash_engine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "image/identity_format.h"

namespace tavo {

namespace {

constexpr size_t kWorkBufferSize = 65536;
constexpr int kIdentityLength = 24;
constexpr uint16_t kFirmwareReadLength = 0xFFFE;
constexpr int kPollLimitSec = 120;

constexpr char kSpecialModel[] = "QRD-1040C";  // nine characters
constexpr size_t kSpecialModelLength = 9;

constexpr const char* kLegacyModels[6] = {
    "TAVO    QRD-0710C", "TAVO    QRD-0820C", "TAVO    QRD-0930C",
    "TAVO    QRD-1040C", "TAVO    QRD-1150C", "TAVO    QRD-1260C",
};
constexpr size_t kLegacyEntryLength = 17;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// A drive-table text field as a string: up to its first zero byte, at most max characters.
std::string FieldText(const char* field, size_t max) {
  return std::string(field, strnlen(field, max));
}

}  // namespace

const char* const TFlashEngine::kNoticeLines[6] = {
    "Important Notice: ",
    "1. Before flashing, ensure that there is no media in the drive.",
    "2. Do not restart or shut down your system until it prompts you",
    "    to do so.",
    "    Turning off your system in the midst of flashing will damage",
    "    your drive.",
};

TFlashEngine::TFlashEngine(TFlashState& state, TAtapi& atapi, const TFirmwareImage& image,
                           TUserPort& ui, TClock& clock)
    : state_(state), atapi_(atapi), image_(image), ui_(ui), clock_(clock) {}

std::optional<std::vector<uint8_t>> TFlashEngine::ObtainBuffer(size_t size) {
  if (failAllocationIn_ > 0 && --failAllocationIn_ == 0) return std::nullopt;
  try {
    return std::vector<uint8_t>(size, 0);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

void TFlashEngine::SetRange(int minimum, int maximum) {
  progressMax_ = maximum;
  ui_.SetProgressRange(minimum, maximum);
}

uint16_t TFlashEngine::BankLength(unsigned bank) const {
  return bank < state_.header.BankLength.size() ? state_.header.BankLength[bank] : 0;
}

// ---------------------------------------------------------------------------------------
// Start-up

void TFlashEngine::CopyHeader() {
  if (!image_.Valid()) {
    // Leave the header copy cleared: no bank is staged, so no identity is found.
    state_.header = TImageHeader{};
    ui_.AddLog(image_.CheckError());
    return;
  }
  state_.header = image_.Header();
}

void TFlashEngine::BitBtn1Click() {
  auto buffer = ObtainBuffer(kWorkBufferSize);
  if (!buffer) {
    ui_.AddLog("Err:Memory allocation");
    return;
  }
  if (!image_.Valid()) return;  // never stage from a container that failed its check
  uint8_t* buf = buffer->data();
  if (state_.header.BankCount > 0) image_.StageBank(0, buf);
  if (state_.header.ScrambleFlag == 0x01) Descramble(buf, kWorkBufferSize, 1);

  const std::span<const uint8_t> bank0(buf, kWorkBufferSize);
  const std::optional<size_t> at = FindInquiryTemplate(bank0);
  if (!at) return;
  const size_t found = *at;

  const char* raw = reinterpret_cast<const char*>(buf + found + 8);
  std::string identity(raw, strnlen(raw, 28));
  state_.imageFamilyCode = {buf[found + 38], buf[found + 39]};
  if (state_.header.IdentityCheckFlag == 0x10 && !CheckFamily()) return;
  state_.edit1 = identity;

  if (identity.size() >= 8 + kSpecialModelLength &&
      identity.compare(8, kSpecialModelLength, kSpecialModel) == 0 &&
      FindUtf16Le(bank0, "Tavonix Design")) {
    state_.imageHasDesignMarker = 1;
  }
}

std::string TFlashEngine::DriveItemText(const DriveEntry& row) {
  return FieldText(row.Identity, kIdentityLength) + " " +
         FieldText(row.Revision, sizeof row.Revision);
}

void TFlashEngine::FillDriveList() {
  state_.items.clear();
  state_.driveMap.fill(0);
  const std::string wanted = state_.edit1.substr(0, kIdentityLength);
  const int count = std::clamp(atapi_.DriveCount(), 0, kDriveTableRows);
  for (int r = 0; r < count; ++r) {
    std::string text = DriveItemText(atapi_.Drive(r));
    if (text.substr(0, kIdentityLength) != wanted) continue;
    if (state_.items.size() >= static_cast<size_t>(kDriveMapSlots)) break;
    state_.driveMap[state_.items.size()] = r;
    state_.items.push_back(std::move(text));
  }
  state_.selectedItem = state_.items.empty() ? -1 : 0;
}

int32_t TFlashEngine::SelectedRow() const {
  // The item list is the front end's; only the first ten items have a map slot.
  if (state_.SelectedItemText().empty() || state_.selectedItem >= kDriveMapSlots) return -1;
  const int32_t row = state_.driveMap[state_.selectedItem];
  return row >= 0 && row < kDriveTableRows ? row : -1;
}

void TFlashEngine::SelectCurrentItem() {
  const int32_t row = SelectedRow();
  if (row >= 0) atapi_.SelectDrive(row);
}

std::string TFlashEngine::CaptionFor(const std::string& edit1) {
  std::string product;
  for (size_t i = 8; i < edit1.size() && i < kIdentityLength && edit1[i] != ' '; ++i) {
    product += edit1[i];
  }
  return product + " Firmware Updater";
}

std::string TFlashEngine::ConfirmationText(const std::string& edit1) {
  return "This firmware updater only supports\n\n " + edit1.substr(0, kIdentityLength) +
         " \n\nDo you want to continue ?";
}

// ---------------------------------------------------------------------------------------
// Flash run

void TFlashEngine::BitBtn2Click() {
  lastRunVerified_ = false;
  if (state_.edit1.empty()) {
    ui_.AddLog("Err:File Error !!");
    return;
  }
  running_ = true;
  ui_.SetControlEnabled(TControl::SelDevice, false);
  ui_.RepaintControl(TControl::SelDevice);
  ui_.SetProgress(10);
  ui_.SetProgress(20);
  atapi_.StopPlayScan();
  atapi_.StartStopUnit();
  ui_.SetControlEnabled(TControl::BitBtn2, false);
  ui_.SetControlEnabled(TControl::BitBtn3, false);
  RunFlash();
  ui_.SetControlEnabled(TControl::BitBtn2, true);
  ui_.SetControlEnabled(TControl::BitBtn3, true);
  running_ = false;
}

void TFlashEngine::RunFlash() {
  lastRunVerified_ = false;
  [&] {
    if (!FamilyGate()) return;
    if (IsSpecialModelItem(state_.SelectedItemText())) state_.selectedIsSpecialModel = 1;
    if (!CheckModel()) return;
    if (!RefreshPatchRegion()) return;
    if (state_.imageHasDesignMarker && state_.selectedIsSpecialModel && !CheckDesignMarker()) {
      return;
    }
    if (!FlashImage()) return;
    ui_.SetProgress(100);
    ui_.AddLog("Flash Complete!!");
    if (!VerifyFlash()) return;
    ui_.AddLog("Firmware Verify ok!!");
    lastRunVerified_ = true;
    OfferReboot();
  }();
  ui_.SetControlEnabled(TControl::SelDevice, true);
}

// ---------------------------------------------------------------------------------------
// Identity checks

bool TFlashEngine::IsSpecialModelItem(const std::string& item) {
  return item.size() >= 8 + kSpecialModelLength &&
         item.compare(8, kSpecialModelLength, kSpecialModel) == 0;
}

bool TFlashEngine::CheckFamily() {
  uint8_t reply[100] = {};
  atapi_.Inquiry(reply);
  if (reply[38] == state_.imageFamilyCode[0] && reply[39] == state_.imageFamilyCode[1]) {
    return true;
  }
  ui_.AddLog("Err:The firmware is not support this device!!(4)");
  return false;
}

bool TFlashEngine::FamilyGate() {
  uint8_t reply[100] = {};  // Inquiry fills 50
  atapi_.Inquiry(reply);
  if (reply[38] == 'W' && reply[39] == '0') {
    for (const char* entry : kLegacyModels) {
      if (std::memcmp(reply + 8, entry, kLegacyEntryLength) == 0) return true;
    }
    ui_.AddLog("Err: Cannot update this device use this update file!!");
    return false;
  }
  return CheckFamily();
}

bool TFlashEngine::CheckModel() {
  const std::string image = state_.edit1.substr(0, kIdentityLength);
  std::string drive;
  if (const int32_t row = SelectedRow(); row >= 0) {
    drive = FieldText(atapi_.Drive(row).Identity, kIdentityLength);
  }
  if (image == drive) return true;
  ui_.AddLog("The Firmware isn't support this device !!(3)");
  return false;
}

bool TFlashEngine::CheckDesignMarker() {
  auto buffer = ObtainBuffer(kWorkBufferSize);
  if (!buffer) {
    // Without the buffer the firmware cannot be searched: no marker is found.
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* buf = buffer->data();
  atapi_.ReadFirmware(buf, kFirmwareReadLength);
  const std::vector<uint8_t> odd = Utf16Le("Tavonix ODD");
  const std::vector<uint8_t> design = Utf16Le("Tavonix Design");
  constexpr int kLast = kFirmwareReadLength - 1;  // 65,533
  SetRange(0, kLast);
  for (int p = 0; p <= kLast; ++p) {
    ui_.ProcessMessages();
    ui_.SetProgress(p);
    const size_t pos = static_cast<size_t>(p);
    if (pos + odd.size() <= kFirmwareReadLength &&
        std::memcmp(buf + pos, odd.data(), odd.size()) == 0) {
      return true;
    }
    if (pos + design.size() <= kFirmwareReadLength &&
        std::memcmp(buf + pos, design.data(), design.size()) == 0) {
      return true;
    }
  }
  ui_.AddLog("This firmware isn't support !!(10)");
  return false;
}

// ---------------------------------------------------------------------------------------
// Patch-region refresh

bool TFlashEngine::RefreshPatchRegion() {
  auto staging = ObtainBuffer(kWorkBufferSize);
  if (!staging) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  auto descriptor = ObtainBuffer(kWorkBufferSize);
  if (!descriptor) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* stage = staging->data();
  uint8_t* desc = descriptor->data();

  if (atapi_.ReadPatchInfo(desc) == 0) return true;
  if (desc[0] != 0x55 || desc[1] != 0xDD || desc[4] >= 8) return true;

  const uint8_t bank = desc[4];
  const uint32_t start = (uint32_t{desc[5]} << 8) | desc[6];
  const uint32_t length = (uint32_t{desc[7]} << 8) | desc[8];
  // The rewrite sends whole 128-byte blocks from the start offset on, so the region must
  // fit the staged bank with its last block; and it must name a bank the image holds.
  const uint32_t writtenEnd = start + (length + 127) / 128 * 128;
  if (writtenEnd > kWorkBufferSize || bank >= state_.header.BankCount) {
    ui_.AddLog(
        Format("Patch region ignored: bank %u, offset 0x%x, length 0x%x lies outside "
               "the image.",
               static_cast<unsigned>(bank), start, length));
    return true;
  }

  image_.StageBank(bank, stage);
  if (state_.header.ScrambleFlag != 0x00 && state_.header.ScrambleFlag != 0x20) {
    Descramble(stage, BankLength(bank), 1);
  }

  uint32_t offset = start;
  uint32_t remaining = length;
  while (remaining > 0) {
    if (atapi_.ReadMemory(desc, bank, static_cast<uint16_t>(offset)) != 1) return true;
    const uint32_t n = std::min<uint32_t>(remaining, 256);
    if (std::memcmp(desc, stage + offset, n) != 0) break;
    offset += 256;
    remaining -= n;
  }
  if (remaining == 0) return true;

  offset = start;
  remaining = length;
  while (remaining > 0) {
    atapi_.WritePatch(stage + offset, bank, offset, 128);
    if (remaining >= 128) {
      offset += 128;
      remaining -= 128;
    } else {
      remaining = 0;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Bank download and commit

bool TFlashEngine::FlashImage() {
  ui_.SetProgress(0);
  SetRange(0, 100);
  ui_.SetProgress(20);
  ui_.AddLog("Flashing ..");
  if (DownloadAndCommit()) return true;
  if (QueryFailure() != 0) {
    ui_.AddLog("Err:Flash Fail!!");
  } else {
    ui_.AddLog("Err:The firmware is not support this device!!(7)");
  }
  return false;
}

uint8_t TFlashEngine::QueryFailure() {
  uint8_t status[20] = {};
  if (atapi_.FlashStatus(status) == 1) return status[0];
  if (atapi_.FlashStatus(status) == 1) return status[0];
  return 0;
}

bool TFlashEngine::DownloadAndCommit() {
  // Stage A: the capabilities page decides the download mode. A failed request leaves
  // nothing trustworthy in the buffer, so it then reads as cleared (normal mode).
  uint8_t caps[256] = {};
  if (atapi_.ModeSenseCapabilities(caps) != 1) std::memset(caps, 0, sizeof caps);
  const bool fullBank = (caps[8] & 0x2A) == 0x2A && (caps[10] & 0x08) != 0 &&
                        (caps[11] & 0x01) != 0 && (caps[11] & 0x10) == 0;

  // Stage B.
  auto transfer = ObtainBuffer(kWorkBufferSize);
  if (!transfer) {
    ui_.AddLog("Err:Memory allocation");
    return false;
  }
  uint8_t* buf = transfer->data();
  clock_.Sleep(2000);

  // Stage C: the banks.
  const uint16_t bankCount = state_.header.BankCount;
  for (uint16_t i = 0; i < bankCount; ++i) {
    if (fullBank) std::memset(buf, 0, kWorkBufferSize);
    ui_.SetProgress(static_cast<int>((i + 1) * 80 / bankCount));
    const uint16_t len = BankLength(i);
    if (i < state_.header.BankLength.size()) image_.StageBank(i, buf);
    if (state_.header.ScrambleFlag == 0x01) Descramble(buf, len, 1);
    if (i == 1 && len < 0xE000) {
      uint8_t memory[256] = {};
      if (atapi_.ReadMemory(memory, 1, 0xE000) != 1) {
        ui_.AddLog("Err:The firmware is not support this device!!(11)");
        return false;
      }
      std::memcpy(buf + 0xE000, memory, 16);
    }
    uint16_t sendLength = len;
    if (fullBank) sendLength = (i == 1 || i == 2) ? 0xF000 : 0xFFFE;
    const uint8_t status = atapi_.FlashWrite(buf, 5, static_cast<uint8_t>(i & 0xFF), sendLength, 0);
    if (status != 1) {
      ui_.AddLog(Format("Status:0x%x ; Err:Flash command(W) has problems.", status));
      return false;
    }
  }

  // Stage D: the commit, and its one retry when refused as an illegal request. Sense data
  // describes a command that failed: the sg-driver transport keeps the previous command's
  // sense when a command succeeds, so a succeeded command's sense is never looked at.
  ui_.SetProgress(70);
  const uint16_t checksum = state_.header.Checksum;
  const uint8_t commitSelector = static_cast<uint8_t>((0xE0 + bankCount) & 0xFF);
  uint8_t kept = atapi_.FlashWrite(buf, 4, commitSelector, 0, checksum);
  if (kept != 1 && atapi_.LastSenseKey() == 5) {
    if (!atapi_.NtPlatform()) atapi_.TestUnitReady();
    kept = atapi_.FlashWrite(buf, 5, commitSelector, 0, checksum);
    clock_.Sleep(15000);
    if (kept != 1 && atapi_.LastSenseKey() == 5 && atapi_.LastAsc() == 0x1A &&
        atapi_.LastAscq() == 0x00) {
      atapi_.TestUnitReady();
      kept =
          atapi_.FlashWrite(buf, 5, static_cast<uint8_t>((0xF0 + bankCount) & 0xFF), 0, checksum);
    }
  }
  const uint8_t senseKey = kept == 1 ? 0 : atapi_.LastSenseKey();
  if (senseKey != 0 && senseKey != 2) {
    ui_.AddLog(Format("Status:%x;SenseCode:%x : %x : %x;", kept, senseKey, atapi_.LastAsc(),
                      atapi_.LastAscq()));
    ui_.AddLog("Err:Flash Fail.");
    return false;
  }

  // Stage E: wait for the drive to come back.
  ui_.SetProgress(80);
  const uint64_t start = clock_.Now();
  for (;;) {
    if (atapi_.TestUnitReady() == 1) break;
    if (atapi_.LastSenseKey() == 2 && atapi_.LastAsc() == 0x3A) break;  // empty drive
    if (clock_.Now() - start > static_cast<uint64_t>(kPollLimitSec)) {
      if (atapi_.NtPlatform()) {
        ui_.AddLog(Format("Time Out Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;", kept,
                          atapi_.LastSenseKey(), atapi_.LastAsc(), atapi_.LastAscq()));
      } else {
        ui_.AddLog(Format("Time Out Status:%x;Status:%x;Debug:Trigger_SenseCode:%x : %x : %x;",
                          atapi_.LastTargetStatus(), kept, atapi_.LastSenseKey(), atapi_.LastAsc(),
                          atapi_.LastAscq()));
      }
      ui_.AddLog(Format("Err:Flash error,time out %d Sec", kPollLimitSec));
      return false;
    }
    clock_.Sleep(1000);
    ui_.ProcessMessages();
  }
  atapi_.TestUnitReady();
  return true;
}

// ---------------------------------------------------------------------------------------
// Verification and restart

bool TFlashEngine::VerifyFlash() {
  clock_.Sleep(5000);
  const std::optional<uint16_t> sum = ReadBackChecksum();
  // A failed read fails the verification whatever the image checksum is.
  if (sum && *sum == state_.header.Checksum) return true;
  ui_.AddLog("Err:Verify NG !!");
  return false;
}

std::optional<uint16_t> TFlashEngine::ReadBackChecksum() {
  uint32_t sum = 0;
  SetRange(0, progressMax_);
  for (uint16_t i = 0; i < state_.header.BankCount; ++i) {
    const uint32_t len = BankLength(i);
    ui_.SetProgress(0);
    SetRange(0, static_cast<int>(len));
    for (uint32_t offset = 0; offset < len; offset += 256) {
      ui_.ProcessMessages();
      ui_.SetProgress(static_cast<int>(offset));
      ui_.RepaintProgress();
      uint8_t piece[256] = {};
      if (atapi_.ReadMemory(piece, static_cast<uint8_t>(i & 0xFF), static_cast<uint16_t>(offset)) !=
          1) {
        return std::nullopt;
      }
      const uint32_t n = std::min<uint32_t>(256, len - offset);
      for (uint32_t k = 0; k < n; ++k) sum += piece[k];
    }
  }
  return static_cast<uint16_t>(sum & 0xFFFF);
}

void TFlashEngine::OfferReboot() {
  if (!ui_.AskReboot()) return;
  ui_.RequestReboot();
}

}  // namespace tavo
