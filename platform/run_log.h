// Run logs: every flash run leaves a file under $XDG_STATE_HOME/tavoflash/ (default
// ~/.local/state/tavoflash/) with a header, every log line with its time, and the outcome.
// The newest kKeptRuns files are kept, and older ones that did not verify for a while
// longer (platform/run_retention.h), each with the run's flight recording. One summary line
// per run also goes to the systemd journal (identifier "tavoflash") when the machine has one.
//
// Typical use:
//   TRunLog log(TRunLog::DefaultDirectory(), "/tmp/extra.log");  // extra copy may be ""
//   log.Begin({{"program", "tavoflash-cli 1.01"}, {"device", "/dev/sr0"}, ...});
//   log.Line("Flashing ..");
//   log.End("Verified: restart before use", "The firmware was written ...");
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tavo {

inline constexpr int kKeptRuns = 20;

class TRunLog {
 public:
  // $XDG_STATE_HOME/tavoflash, or $HOME/.local/state/tavoflash; empty when neither
  // variable is set.
  static std::string DefaultDirectory();

  // directory: where the run files go (created when missing; empty: none). extraPath: a
  // second file the run's log is appended to as well (--log FILE; empty: none).
  TRunLog(std::string directory, std::string extraPath);
  ~TRunLog();
  TRunLog(const TRunLog&) = delete;
  TRunLog& operator=(const TRunLog&) = delete;

  // Starts a run: a new file named for the current time, the header fields one per line,
  // then the lines already given to Line() since the last End(). Old run files beyond
  // kKeptRuns are removed. False when no file could be opened (the run goes on without).
  bool Begin(const std::vector<std::pair<std::string, std::string>>& header);
  // One log line with its time. Before Begin() the lines are kept and written by it.
  void Line(const std::string& text);
  // Ends the run: the fields ("key: value" lines, such as the result and the revisions),
  // the outcome, then closes the files and sends the summary to the journal.
  void End(const std::string& summary, const std::string& text,
           const std::vector<std::pair<std::string, std::string>>& fields = {});
  // The program ends without a run (nothing was sent to a drive): only the journal hears
  // of it. No file is written, so that looking for drives never rotates away the log of a
  // run; the lines kept since the last End() are dropped.
  void EndWithoutRun(const std::string& summary);

  // The file of the current (or last) run; empty before the first Begin().
  const std::string& Path() const { return path_; }
  // Why the last Begin() opened no file, empty when it did.
  const std::string& Error() const { return error_; }
  // Turns the journal summary off (tests).
  void SetJournal(bool on) { journal_ = on; }

 private:
  void Write(const std::string& text);
  void Journal(const std::string& summary);
  void Rotate();

  std::string directory_;
  std::string extraPath_;
  std::string path_;
  std::string error_;
  std::FILE* file_ = nullptr;
  std::FILE* extra_ = nullptr;
  std::vector<std::string> pending_;
  std::string device_;
  bool journal_ = true;
};

}  // namespace tavo
