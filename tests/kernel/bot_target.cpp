#include "tests/kernel/bot_target.h"

#include <algorithm>
#include <cstring>

namespace tavo::kernel {

namespace {

constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr uint8_t kRequestSense = 0x03;

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void WriteLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::optional<TCbw> ParseCbw(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size != kCbwSize) return std::nullopt;
  if (ReadLe32(bytes) != kCbwSignature) return std::nullopt;
  const uint8_t flags = bytes[12];
  const uint8_t lun = bytes[13];
  const uint8_t cdbLength = bytes[14];
  // Reserved bits must be zero; the CDB length is 1 to 16.
  if ((flags & 0x7F) != 0 || (lun & 0xF0) != 0 || (cdbLength & 0xE0) != 0) return std::nullopt;
  if (cdbLength == 0 || cdbLength > 16) return std::nullopt;
  TCbw cbw;
  cbw.tag = ReadLe32(bytes + 4);
  cbw.dataLength = ReadLe32(bytes + 8);
  cbw.dataIn = (flags & 0x80) != 0;
  cbw.lun = lun;
  cbw.cdbLength = cdbLength;
  std::memcpy(cbw.cdb.data(), bytes + 15, cdbLength);
  return cbw;
}

std::array<uint8_t, kCswSize> BuildCsw(uint32_t tag, uint32_t residue, TCswStatus status) {
  std::array<uint8_t, kCswSize> csw{};
  WriteLe32(csw.data(), kCswSignature);
  WriteLe32(csw.data() + 4, tag);
  WriteLe32(csw.data() + 8, residue);
  csw[12] = uint8_t(status);
  return csw;
}

TBotTarget::TBotTarget(TExecute execute, uint32_t maxTransfer)
    : execute_(std::move(execute)), maxTransfer_(maxTransfer) {}

void TBotTarget::KeepSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  sense_.fill(0);
  sense_[0] = 0x70;
  sense_[2] = key;
  sense_[7] = 10;
  sense_[12] = asc;
  sense_[13] = ascq;
  senseLength_ = 18;
}

std::array<uint8_t, kCswSize> TBotTarget::AnswerRequestSense(const TCbw& cbw,
                                                             std::vector<uint8_t>& data) {
  std::array<uint8_t, 18> reply{};
  if (senseLength_ > 0) {
    reply = sense_;
  } else {
    reply[0] = 0x70;  // no sense
    reply[7] = 10;
  }
  senseLength_ = 0;
  data.assign(cbw.dataLength, 0);
  uint32_t n = std::min<uint32_t>(cbw.dataLength, uint32_t(reply.size()));
  if (cbw.cdbLength >= 5) n = std::min<uint32_t>(n, cbw.cdb[4]);  // allocation length
  if (!cbw.dataIn) n = 0;
  std::copy_n(reply.begin(), n, data.begin());
  return BuildCsw(cbw.tag, cbw.dataLength - n, TCswStatus::Passed);
}

std::array<uint8_t, kCswSize> TBotTarget::Run(const TCbw& cbw, std::vector<uint8_t>& data) {
  if (!Accepts(cbw)) return BuildCsw(cbw.tag, cbw.dataLength, TCswStatus::PhaseError);
  if (cbw.cdb[0] == kRequestSense) return AnswerRequestSense(cbw, data);

  senseLength_ = 0;  // sense belongs to the last command only
  if (cbw.lun != 0) {
    KeepSense(0x05, 0x25, 0x00);  // LOGICAL UNIT NOT SUPPORTED
    if (cbw.dataIn) data.assign(cbw.dataLength, 0);
    return BuildCsw(cbw.tag, cbw.dataLength, TCswStatus::Failed);
  }

  TDataDirection direction = TDataDirection::None;
  if (cbw.dataLength > 0) direction = cbw.dataIn ? TDataDirection::In : TDataDirection::Out;
  if (direction == TDataDirection::In) {
    data.assign(cbw.dataLength, 0);
  } else if (direction == TDataDirection::None) {
    data.clear();
  } else if (data.size() != cbw.dataLength) {
    // The gadget hands over exactly what the host sent; anything else is a phase mismatch.
    return BuildCsw(cbw.tag, cbw.dataLength, TCswStatus::PhaseError);
  }

  const TCommandResult result = execute_(cbw.cdb.data(), cbw.cdbLength,
                                         direction == TDataDirection::None ? nullptr : data.data(),
                                         cbw.dataLength, direction);

  const uint32_t moved = std::min(result.transferred, cbw.dataLength);
  if (direction == TDataDirection::In) {
    // Never show the host bytes the drive did not claim to have written.
    std::fill(data.begin() + moved, data.end(), 0);
  }
  const uint32_t residue = cbw.dataLength - moved;

  if (result.systemError != 0 || result.lostCompletion) {
    // A USB device cannot make the host's system call fail; the closest it can do is
    // abort the command.
    KeepSense(0x0B, 0x00, 0x00);
    return BuildCsw(cbw.tag, residue, TCswStatus::Failed);
  }
  if (result.status == 0) return BuildCsw(cbw.tag, residue, TCswStatus::Passed);

  if (result.senseLength > 0) {
    sense_.fill(0);
    const size_t n = std::min<size_t>(result.senseLength, sense_.size());
    std::copy_n(result.sense.begin(), n, sense_.begin());
    senseLength_ = uint8_t(n);
  }
  return BuildCsw(cbw.tag, residue, TCswStatus::Failed);
}

}  // namespace tavo::kernel
