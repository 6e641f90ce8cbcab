#include "cli/cli_history.h"

#include <string>

#include "cli/cli_startup.h"

namespace tavo {

int PrintHistory(const std::vector<TPastRun>& runs, TJsonEvents* events, std::FILE* out) {
  for (const TPastRun& run : runs) {
    if (events != nullptr) {
      events->Emit("run", {{"date", TextOrNull(run.date)},
                           {"program", TextOrNull(run.program)},
                           {"node", TextOrNull(run.node)},
                           {"identity", TextOrNull(run.identity)},
                           {"old_revision", TextOrNull(run.oldRevision)},
                           {"new_revision", TextOrNull(run.newRevision)},
                           {"class", TextOrNull(run.result)},
                           {"summary", TextOrNull(run.summary)},
                           {"log", run.path}});
      continue;
    }
    const std::string revisions =
        run.oldRevision + (run.newRevision.empty() || run.newRevision == run.oldRevision
                               ? std::string()
                               : " -> " + run.newRevision);
    std::fprintf(out, "%s  %s  %s  %s  %s\n    %s\n", run.date.c_str(), run.node.c_str(),
                 run.identity.c_str(), revisions.c_str(),
                 run.summary.empty() ? "(unfinished: the program ended during the run)"
                                     : run.summary.c_str(),
                 run.path.c_str());
  }
  if (events == nullptr && runs.empty()) std::fprintf(out, "No runs are logged.\n");
  std::fflush(out);
  return kExitVerified;
}

}  // namespace tavo
