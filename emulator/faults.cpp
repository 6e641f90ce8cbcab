// Faults injected into a virtual drive's answers.
#include <utility>

#include "emulator/drive_state.h"

namespace tavo {

bool MatchesKind(TCommandKind wanted, TCommandKind actual) {
  if (wanted == TCommandKind::Any || wanted == actual) return true;
  return wanted == TCommandKind::FlashWrite &&
         (actual == TCommandKind::FlashDownload || actual == TCommandKind::FlashCommit ||
          actual == TCommandKind::FlashRetry);
}

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

}  // namespace tavo
