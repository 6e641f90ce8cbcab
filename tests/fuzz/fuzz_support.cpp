#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "image/packer.h"
#include "image/scramble_scheme.h"

namespace tavo::fuzz {

TMutatingPort::TAction TMutatingPort::NextAction() {
  switch (in_.Byte() % 16) {
    case 10:
    case 11:
      return TAction::Status;
    case 12:
      return TAction::Data;
    case 13:
      return TAction::TransportFault;
    case 14:
      return TAction::Refuse;
    case 15:
      return TAction::Lose;
    default:
      return TAction::Keep;  // the common case, and what an exhausted input gives
  }
}

void TMutatingPort::OverwriteData(uint8_t* data, uint32_t length) {
  if (data == nullptr || length == 0) return;
  uint32_t offset = in_.Word() % length;
  const uint32_t count = in_.Byte();
  for (uint32_t i = 0; i < count && offset < length; ++i, ++offset) data[offset] = in_.Byte();
}

void TMutatingPort::FillSense(uint8_t* sense, size_t size) {
  std::memset(sense, 0, size);
  const size_t n = std::min<size_t>(size, in_.Byte() % 19);
  for (size_t i = 0; i < n; ++i) sense[i] = in_.Byte();
}

int TMutatingPort::Execute(TDeviceHandle handle, TPassThroughBlock& block) {
  const int error = bus_.Execute(handle, block);
  TScsiPassThroughDirect& sptd = block.Sptd;
  switch (NextAction()) {
    case TAction::Keep:
      return error;
    case TAction::Status:
      sptd.ScsiStatus = in_.Byte();
      FillSense(block.SenseBuf, std::min<size_t>(sptd.SenseInfoLength, sizeof block.SenseBuf));
      return error;
    case TAction::Data:
      if (sptd.DataIn == kDataIn) OverwriteData(sptd.DataBuffer, sptd.DataTransferLength);
      return error;
    case TAction::TransportFault:
      sptd.ScsiStatus = 0;
      return in_.Byte() & 1 ? EIO : ETIMEDOUT;
    case TAction::Refuse:
      return (in_.Byte() & 1) ? EINVAL : EACCES;
    case TAction::Lose:
      clock_.Sleep(sptd.TimeOutValue * 1000);
      sptd.ScsiStatus = 0;
      return ETIMEDOUT;
  }
  return error;
}

uint32_t TMutatingPort::SendGetDevType(TSrbGDEVBlock& srb) {
  bus_.SendGetDevType(srb);
  if (in_.Byte() % 8 == 7) {
    // Another device type, or a failed probe; never left pending (the port completes probes).
    srb.SRB_DeviceType = in_.Byte() % 8;
    srb.SRB_Status = in_.Byte() & 1 ? SS_COMP : SS_NO_DEVICE;
  }
  return srb.SRB_Status;
}

uint32_t TMutatingPort::SendExec(TSrbExecSCSICmd& srb) {
  bus_.SendExec(srb);
  if (srb.SRB_Status == SS_PENDING) return srb.SRB_Status;
  switch (NextAction()) {
    case TAction::Keep:
      break;
    case TAction::Status:
      srb.SRB_TargStat = in_.Byte();
      srb.SRB_Status = in_.Byte();
      if (srb.SRB_Status == SS_PENDING) srb.SRB_Status = SS_ERR;
      FillSense(srb.SenseArea, std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea));
      break;
    case TAction::Data:
      if ((srb.SRB_Flags & kDirIn) != 0) OverwriteData(srb.SRB_BufPointer, srb.SRB_BufLen);
      break;
    case TAction::TransportFault:
    case TAction::Refuse:
      srb.SRB_HaStat = in_.Byte();
      srb.SRB_TargStat = 0;
      srb.SRB_Status = SS_ERR;
      break;
    case TAction::Lose:
      lost_[srb.SRB_PostProc] = &srb;
      srb.SRB_Status = SS_PENDING;
      break;
  }
  return srb.SRB_Status;
}

TWaitResult TMutatingPort::WaitEvent(TEventHandle event, uint32_t timeoutMs) {
  if (lost_.count(event) != 0) {
    clock_.Sleep(timeoutMs);
    return TWaitResult::TimedOut;
  }
  return bus_.WaitEvent(event, timeoutMs);
}

uint32_t TMutatingPort::SendAbort(TSrbAbort& srb) {
  for (auto it = lost_.begin(); it != lost_.end(); ++it) {
    if (it->second == srb.SRB_ToAbort) {
      it->second->SRB_Status = SS_ABORTED;
      lost_.erase(it);
      srb.SRB_Status = SS_COMP;
      return srb.SRB_Status;
    }
  }
  return bus_.SendAbort(srb);
}

std::vector<uint8_t> SmallImage(uint8_t identityCheck, uint8_t scrambleFlag,
                                const std::string& identity, uint8_t family0, uint8_t family1) {
  pack::TPackInput input;
  input.IdentityCheckFlag = identityCheck;
  input.ScrambleFlag = scrambleFlag;
  std::vector<uint8_t> bank0(0x400, 0x11);
  const size_t t = 0x40;
  bank0[t] = 0x05;
  bank0[t + 1] = 0x80;
  bank0[t + 4] = 0x5B;
  for (size_t i = 0; i < 28 && i < identity.size(); ++i) {
    bank0[t + 8 + i] = static_cast<uint8_t>(identity[i]);
  }
  bank0[t + 38] = family0;
  bank0[t + 39] = family1;
  input.Banks = {bank0, std::vector<uint8_t>(0x300, 0x22), std::vector<uint8_t>(0x200, 0x33)};
  // A scrambled bank descrambles to the seed offset in its first byte.
  for (auto& bank : input.Banks) bank[0] = scramble::kSeedOffset;
  std::vector<uint8_t> out;
  std::string error;
  pack::PackContainer(input, out, error);
  return out;
}

}  // namespace tavo::fuzz
