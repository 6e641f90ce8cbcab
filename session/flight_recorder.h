// The flight recorder: every session records what went over the bus (the --record format)
// in memory, and each run keeps the recording of the session up to its end in a
// gzip-compressed file beside its run log ("run-...-mmm.log" -> "run-...-mmm.jsonl.gz"),
// so that the run can be replayed (--emulate=replay:FILE) and sent in a support report.
// A session without a run (a list, a check, no matching drive) writes no file.
//
// Typical use (the drive session feeds it, the run record starts and ends the files):
//   recorder.Add(line);                      // every recorded line, from the session start
//   recorder.StartFile(runLogPath, error);   // the run began: earlier lines are written
//   recorder.EndFile();                      // the run ended
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tavo {

class TGzipLineFile;

class TFlightRecorder {
 public:
  TFlightRecorder();
  ~TFlightRecorder();
  TFlightRecorder(const TFlightRecorder&) = delete;
  TFlightRecorder& operator=(const TFlightRecorder&) = delete;

  void Add(const std::string& line);
  // Opens the file for the run whose log is logPath and writes every line so far; the
  // lines that follow go to it too until EndFile(). False with error set when the file
  // cannot be made (the run goes on without).
  bool StartFile(const std::string& logPath, std::string& error);
  void EndFile();
  // The current (or last) run's recording; empty when none was made.
  const std::string& Path() const { return path_; }

 private:
  std::vector<std::string> lines_;
  std::unique_ptr<TGzipLineFile> file_;
  std::string path_;
};

}  // namespace tavo
