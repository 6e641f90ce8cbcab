// The flash procedure and the start-up steps that read the image: identity extraction,
// drive matching, the gates, the patch-region refresh, download and commit, verification
// and the restart offer. No toolkit here: the user is reached through TUserPort, time
// through TClock, the drive through TAtapi.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "flash/backup_store.h"
#include "flash/flash_state.h"
#include "flash/phase.h"
#include "flash/user_port.h"
#include "image/firmware_image.h"

namespace tavo {

// Why the last verification failed.
enum class TVerifyFailure {
  None,           // it passed, or no verification ran
  ReadFailed,     // a read of the drive's memory failed
  Mismatch,       // the read-back checksum differs from the image's
  BlankReadBack,  // every byte read back had one value: the drive holds no firmware there
};

// Where a run that had begun to send the firmware stopped, as far as the drive let it be
// known.
enum class TRunStop {
  None,             // not stopped there (verified, or stopped before the firmware was sent)
  DownloadRefused,  // the drive answered a bank (or the read before bank 1) with a refusal
  CommitRefused,    // the drive took the banks but refused to program them
  NotReady,         // the drive was not ready again within the time limit
  ContactLost,      // a command of the download, commit or read-back got no answer
};

// What became of the commands of one kind that write to the drive. By the SCSI rules a
// command the drive ends with CHECK CONDITION and ILLEGAL REQUEST changed nothing; any other
// failure (another sense, no answer at all) may have changed the drive.
struct TWriteCount {
  int sent = 0;
  int accepted = 0;  // ended with GOOD status
  int refused = 0;   // ended with CHECK CONDITION and ILLEGAL REQUEST
  // Some of them may have changed the drive: sent and not refused as an illegal request.
  bool MayHaveChanged() const { return sent > refused; }
};

// The commands of a run that write: patch-region blocks, and the firmware (bank downloads,
// the commit and its retries).
struct TWriteFacts {
  TWriteCount patch;
  TWriteCount firmware;
  bool AnySent() const { return patch.sent + firmware.sent > 0; }
  bool MayHaveChanged() const { return patch.MayHaveChanged() || firmware.MayHaveChanged(); }
};

// The patch-region rewrite a refresh makes when the drive's region differs from the
// image's: whole 128-byte blocks from start, taken from the image's staged bank.
struct TPatchRewrite {
  uint8_t bank = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  std::vector<uint8_t> staged;  // the image's bank as the blocks are sent from it
  // One past the last byte the rewrite sends (within the staged bank).
  uint32_t WrittenEnd() const { return start + (length + 127) / 128 * 128; }
};

class TFlashEngine {
 public:
  TFlashEngine(TFlashState& state, TAtapi& atapi, const TFirmwareImage& image, TUserPort& ui,
               TClock& clock);

  // --- Start-up ---
  // Copies the header values of the image into the state (checks the container first;
  // a container that fails its check is reported in the log and leaves no identity).
  void CopyHeader();
  // Image identity extraction from bank 0 (the hidden "&Open" button).
  void BitBtn1Click();
  // The image the runs flash: the one given at construction until UseImage.
  const TFirmwareImage& Image() const { return *image_; }
  // The runs flash image from now on (it must outlive them): its header, identity, family
  // code and design marker go into the state as the start-up takes them, without a command
  // to any drive (no family search). An image without an identity leaves it empty: a run
  // then stops at "Err:File Error !!". The drive list and the selection stay.
  void UseImage(const TFirmwareImage& image);
  // Lists the drive-table rows whose identity matches the image identity (at most ten)
  // into state.items / state.driveMap and selects item 0 when there is one.
  void FillDriveList();
  // Makes the drive of the selected item current (nothing when the list is empty).
  void SelectCurrentItem();
  // "%s %s" of a row's identity and revision.
  static std::string DriveItemText(const DriveEntry& row);
  // "<product> Firmware Updater" from the image identity.
  static std::string CaptionFor(const std::string& edit1);
  // Text of the start-up confirmation question.
  static std::string ConfirmationText(const std::string& edit1);
  // The six notice lines the window appends after start-up.
  static const char* const kNoticeLines[6];

  // --- Flash run ("&Start") ---
  void BitBtn2Click();
  void RunFlash();
  // True while BitBtn2Click runs (a close request must then be refused).
  bool Running() const { return running_; }
  // True when the last run got as far as "Firmware Verify ok!!". The run does not ask the
  // restart question itself: the front end calls OfferReboot once it has let go of the
  // drive and written the outcome, so that nobody's answer holds the drive or the signals.
  bool LastRunVerified() const { return lastRunVerified_; }
  // What became of every command of the last run that writes to the drive.
  const TWriteFacts& LastWrites() const { return writes_; }
  TVerifyFailure LastVerifyFailure() const { return verifyFailure_; }
  TRunStop LastStop() const { return stop_; }
  // After a refused download: the drive's flash status said it attempted nothing and it
  // had taken no patch block and no bank ("(7)" with a real 0).
  bool LastRunNothingAttempted() const { return nothingAttempted_; }
  // True when the last run asked for the flash status and got no answer.
  bool LastFlashStatusUnanswered() const { return flashStatusAsked_ && !flashStatus_; }
  // The last phase the last run reached; nothing when no run got as far as the checks.
  const std::optional<TPhase>& LastPhase() const { return phase_; }

  // True when a list item names the model that also gets the design-marker check.
  static bool IsSpecialModelItem(const std::string& item);

  // Where the run keeps the drive's memory before its first command that writes; nullptr
  // (the default): the run makes no backup. The store must outlive the runs.
  void SetBackupStore(TBackupStore* store) { backupStore_ = store; }
  // True when the last run stopped because the backup could not be made (a read failed,
  // the two reads differed, or the copy could not be kept): nothing was written.
  bool LastRunBackupRefused() const { return backupRefused_; }
  // Where the last run's backup was kept; empty when it made none.
  const std::string& LastBackupPath() const { return backupPath_; }
  // A restore: the verification also compares the SHA-256 of everything it reads back
  // with this one (lower-case hex); empty: the 16-bit sum alone decides.
  void SetExpectedMemorySha256(std::string sha256) { expectedSha256_ = std::move(sha256); }
  // The image is a backup of this drive model's own firmware: the family comparison is
  // left out (the firmware the drive runs now may name another family than the one it was
  // backed up from); the legacy family's model list still applies.
  void SetRestore(bool restore) { restore_ = restore; }

  bool FamilyGate();
  bool CheckFamily();
  bool CheckModel();
  // overlay: a patch rewrite the run would make before the search, applied in memory to
  // the firmware read from the drive (the check's view of what the run will see).
  bool CheckDesignMarker(const TPatchRewrite* overlay = nullptr);
  bool RefreshPatchRegion();
  // Sends the blocks of a planned rewrite (the second half of RefreshPatchRegion).
  void RewritePatchRegion(TPatchRewrite& rewrite);
  // The design-marker search a run makes before it writes anything: in the firmware as the
  // planned rewrite (none: no rewrite) will leave it. Logs the same line as the search after
  // the refresh when it fails.
  bool PredictDesignMarker(const std::optional<TPatchRewrite>& rewrite);
  // Reads every byte a run may rewrite, twice, and hands the copy to the backup store.
  // False (logged) when a read failed, the reads differ or the copy was not kept.
  bool BackUpDrive();
  // What RefreshPatchRegion reads and decides, with reading commands only. False: a
  // working buffer was not obtained (logged). rewrite: set when the region must be
  // rewritten.
  bool PlanPatchRefresh(std::optional<TPatchRewrite>& rewrite);
  bool FlashImage();
  bool DownloadAndCommit();
  // Byte 0 of the drive's flash status, asked at most twice; nothing when neither query
  // was answered (FlashImage reads that as 0, as a real 0).
  std::optional<uint8_t> QueryFailure();
  bool VerifyFlash();
  // The 16-bit read-back sum, or nothing when a read failed. uniform: every byte read had
  // the same value.
  std::optional<uint16_t> ReadBackChecksum(bool* uniform = nullptr);
  void OfferReboot();

  // Drive-table rows another program holds: nothing is sent to them. The start-up family
  // search keeps such a row listed without asking it (the read-only check reports it busy).
  void SetOffLimitsRows(std::vector<int32_t> rows) { offLimits_ = std::move(rows); }

  // For tests: the nth working-buffer request from now on (1 = the next) fails as if
  // memory had run out.
  void SimulateAllocationFailure(int nth) { failAllocationIn_ = nth; }

 private:
  // A cleared working buffer of size bytes, or nothing when memory ran out.
  std::optional<std::vector<uint8_t>> ObtainBuffer(size_t size);
  // Drive-table row of the selected item, -1 when there is none.
  int32_t SelectedRow() const;
  // Remembers the phase and tells the user.
  void ReportPhase(const TPhase& phase);
  // Re-ranges the progress bar and remembers the maximum.
  void SetRange(int minimum, int maximum);
  // True when the current drive's FamilyCode equals the image's (one INQUIRY).
  bool DriveHasImageFamily();
  // True when the row's identity (vendor and product) is the one given.
  bool RowMatchesIdentity(int32_t row, const std::string& identity) const;
  // Identity-check flag 10h at start-up: asks every drive whose identity matches for its
  // family and keeps the rows that match in state.familyRows. Without one it logs the "(4)"
  // line and returns false.
  bool FindFamilyDrives(const std::string& identity);
  // How many bytes of each bank of the image's layout a run may rewrite.
  std::vector<uint32_t> BackupLengths();
  // One read of those bytes for the backup; false when a read failed.
  bool ReadBackupPass(const std::vector<uint32_t>& lengths, int pass,
                      std::vector<std::vector<uint8_t>>& banks);
  // Stages bank 0 of the image and finds its INQUIRY template: the identity, with the
  // family code and the design marker; nothing when the image has no template.
  struct TImageIdentity {
    std::string identity;
    std::array<uint8_t, 2> familyCode{};
    bool designMarker = false;
  };
  std::optional<TImageIdentity> ReadImageIdentity();
  // Length of bank n from the header copy; 0 for a bank beyond the eight slots.
  uint16_t BankLength(unsigned bank) const;

  // The steps of DownloadAndCommit. Each logs its own failure lines and returns false.
  // True when the capabilities page asks for full-bank transfers.
  bool FullBankMode();
  // Sends every bank of the image with the download form of FlashWrite.
  bool SendBanks(uint8_t* buf, bool fullBank);
  // Sends the commit and its retries; kept receives the status of the last one.
  bool CommitWithRetries(uint8_t* buf, uint8_t& kept);
  // refusal when the last command was refused with sense, else ContactLost.
  TRunStop StopAfterFailure(TRunStop refusal) const;
  // Polls the drive once a second until it is ready again, for at most 120 seconds.
  bool WaitUntilReady(uint8_t kept);

  TFlashState& state_;
  TAtapi& atapi_;
  const TFirmwareImage* image_;
  TUserPort& ui_;
  TClock& clock_;
  bool running_ = false;
  bool lastRunVerified_ = false;
  TWriteFacts writes_;
  // The flash-status query after a failed download or commit: asked, and what it answered.
  std::optional<uint8_t> flashStatus_;
  bool flashStatusAsked_ = false;
  // Notes what became of a command that writes, right after it returned status.
  void NoteWrite(TWriteCount& count, uint8_t status);
  TVerifyFailure verifyFailure_ = TVerifyFailure::None;
  TRunStop stop_ = TRunStop::None;
  bool nothingAttempted_ = false;
  TBackupStore* backupStore_ = nullptr;
  bool backupRefused_ = false;
  std::string backupPath_;
  std::string expectedSha256_;
  bool restore_ = false;
  std::vector<uint8_t> readBack_;  // what the verification read, kept for a restore's digest
  // Resets what the last run's facts say.
  void ClearRunFacts();
  std::optional<TPhase> phase_;
  int failAllocationIn_ = 0;
  std::vector<int32_t> offLimits_;
  int progressMax_ = 100;  // the bar is created with the range 0 to 100
};

}  // namespace tavo
