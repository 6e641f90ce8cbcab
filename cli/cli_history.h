// tavoflash-cli --history: the runs kept in the run logs, newest first, as lines for a
// person or as "run" events (--json). Reads the logs only; no drive is looked at.
#pragma once

#include <cstdio>
#include <vector>

#include "cli/json_events.h"
#include "session/run_history.h"

namespace tavo {

// events: the JSON writer, or nullptr for text on out. Returns the exit status (0).
int PrintHistory(const std::vector<TPastRun>& runs, TJsonEvents* events, std::FILE* out = stdout);

}  // namespace tavo
