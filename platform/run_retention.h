// Which old runs the run-log folder keeps. A run is its log ("run-...-mmm.log") and its
// flight recording beside it ("run-...-mmm.jsonl.gz"); both go together. The newest runs
// are kept whatever became of them; of the older ones, the newest few that did not verify
// are kept as well, so the run someone needs to look into outlives a series of good runs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavo {

// Older runs kept besides the newest ones when they did not verify.
inline constexpr size_t kKeptUnverifiedRuns = 10;

// True when the run log's text ends in "result: verified" or "result: refused" (nothing
// was sent): such a run has nothing to look into later. An unfinished run, or one that
// failed, counts as unverified.
bool RunEndedWell(const std::string& logText);

// logsOldestFirst: the run logs of a folder, oldest first. Keeps the newest keep of them
// and the newest kKeptUnverifiedRuns of the others that did not verify; removes the rest,
// each with its recording. Then removes recordings whose log is gone (left by a run log
// removed by hand, or by an older version of the program).
void RemoveOldRuns(const std::string& directory, const std::vector<std::string>& logsOldestFirst,
                   size_t keep);

// The flight recording that belongs to a run log: ".log" replaced by ".jsonl.gz".
std::string RecordingOfLog(const std::string& logPath);

}  // namespace tavo
