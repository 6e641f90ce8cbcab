// Faults injected into a virtual drive's answers, and the pass that applies them to one
// command.
#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/drive_state.h"

namespace tavo {

namespace {

bool MatchesKind(TCommandKind wanted, TCommandKind actual) {
  if (wanted == TCommandKind::Any || wanted == actual) return true;
  return wanted == TCommandKind::FlashWrite &&
         (actual == TCommandKind::FlashDownload || actual == TCommandKind::FlashCommit ||
          actual == TCommandKind::FlashRetry);
}

}  // namespace

TFault TFault::Check(TCommandKind kind, TSenseCode sense, int count) {
  TFault f;
  f.type = TType::CheckCondition;
  f.kind = kind;
  f.sense = sense;
  f.count = count;
  return f;
}

TFault TFault::Refuse(TCommandKind kind, int error, int count) {
  TFault f;
  f.type = TType::SystemError;
  f.kind = kind;
  f.systemError = error;
  f.count = count;
  return f;
}

TFault TFault::Lose(TCommandKind kind, int count) {
  TFault f;
  f.type = TType::LostCompletion;
  f.kind = kind;
  f.count = count;
  return f;
}

TFault TFault::Delay(TCommandKind kind, uint32_t ms, int count) {
  TFault f;
  f.type = TType::Latency;
  f.kind = kind;
  f.latencyMs = ms;
  f.count = count;
  return f;
}

TFault TFault::Hostile(TCommandKind kind, std::vector<uint8_t> bytes, uint32_t offset, int count) {
  TFault f;
  f.type = TType::HostileReply;
  f.kind = kind;
  f.reply = std::move(bytes);
  f.replyOffset = offset;
  f.count = count;
  return f;
}

TFaultPass TakeFaults(std::vector<TFault>& faults, TCommandKind kind) {
  TFaultPass pass;
  for (TFault& f : faults) {
    if (f.count == 0 || !MatchesKind(f.kind, kind)) continue;
    const bool isTerminal = f.type == TFault::TType::CheckCondition ||
                            f.type == TFault::TType::SystemError ||
                            f.type == TFault::TType::LostCompletion;
    if (isTerminal && pass.terminal) continue;
    if (isTerminal) {
      pass.terminal = f;
    } else if (f.type == TFault::TType::Latency) {
      pass.latencyMs += f.latencyMs;
    } else {
      pass.hostile.push_back(f);
    }
    if (f.count > 0) --f.count;
  }
  std::erase_if(faults, [](const TFault& f) { return f.count == 0; });
  return pass;
}

void ApplyHostileReplies(const std::vector<TFault>& hostile, uint8_t* data, uint32_t length,
                         TCommandResult& result) {
  for (const TFault& f : hostile) {
    if (f.replyOffset >= length) continue;
    const uint32_t n =
        std::min<uint32_t>(static_cast<uint32_t>(f.reply.size()), length - f.replyOffset);
    std::memcpy(data + f.replyOffset, f.reply.data(), n);
    result.transferred = std::max(result.transferred, f.replyOffset + n);
  }
}

}  // namespace tavo
