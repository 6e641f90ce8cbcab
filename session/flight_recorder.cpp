#include "session/flight_recorder.h"

#include "platform/gzip_line_file.h"
#include "platform/run_retention.h"

namespace tavo {

TFlightRecorder::TFlightRecorder() = default;
TFlightRecorder::~TFlightRecorder() = default;

void TFlightRecorder::Add(const std::string& line) {
  lines_.push_back(line);
  if (file_) file_->WriteLine(line);
}

bool TFlightRecorder::StartFile(const std::string& logPath, std::string& error) {
  file_.reset();
  path_.clear();
  if (logPath.empty()) return false;
  const std::string path = RecordingOfLog(logPath);
  file_ = TGzipLineFile::Create(path, error);
  if (!file_) return false;
  path_ = path;
  for (const std::string& line : lines_) file_->WriteLine(line);
  return true;
}

void TFlightRecorder::EndFile() {
  file_.reset();
}

}  // namespace tavo
