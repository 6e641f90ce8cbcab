#include "session/replay_source.h"

#include <sstream>

#include "platform/archive_input.h"

namespace tavo {

namespace {
// The largest recording the reader takes (it refuses anything longer itself).
constexpr size_t kLargestRecording = size_t{256} << 20;
}  // namespace

std::optional<TRecording> ReadReplaySource(const std::string& path, std::string& error) {
  if (!IsGzipFile(path)) return ReadRecordingFile(path, error);
  std::string why;
  std::optional<std::string> text =
      ReadCompressedText(path, kReportRecordingName, kLargestRecording, why);
  if (!text) {
    error = why.rfind("holds no ", 0) == 0
                ? "is a support report without a recording (the run's recording was gone when "
                  "the report was made)"
                : "cannot be decompressed: " + why;
    return std::nullopt;
  }
  std::istringstream in(std::move(*text));
  return ReadRecording(in, error);
}

}  // namespace tavo
