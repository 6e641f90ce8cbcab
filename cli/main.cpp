// tavoflash-cli: the flash procedure in a terminal. Runs the shared start-up sequence
// (confirmation, matching drives, selection) and flashes the chosen drive (or, with
// --drive all, every matching drive in turn), printing every log line as it happens; with
// --json, JSON Lines events on standard output instead (cli/json_events.h).
//
// Exit status by outcome, the same with --json (cli/cli_startup.h): 0 verified or nothing
// to do, 1 failed with nothing written, 2 bad usage or no matching drive, 3 written but not
// verified, 4 refused before anything was sent (drive busy, battery, the user said no); a
// terminating signal that arrived during the run ends the program right after it, with
// that signal. A closed standard output (SIGPIPE) never ends it.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_check.h"
#include "cli/cli_fleet.h"
#include "cli/cli_history.h"
#include "cli/cli_options.h"
#include "cli/cli_port.h"
#include "cli/cli_report.h"
#include "cli/cli_startup.h"
#include "cli/cli_support.h"
#include "cli/json_events.h"
#include "cli/json_port.h"
#include "drive/clock.h"
#include "flash/flash_engine.h"
#include "flash/flash_state.h"
#include "image/firmware_image.h"
#include "platform/backup_files.h"
#include "platform/restart.h"
#include "session/drive_backup.h"
#include "session/drive_report.h"
#include "session/drive_session.h"
#include "session/options.h"
#include "session/output_files.h"
#include "session/run_record.h"
#include "session/version.h"

namespace tavo {
namespace {

// Under --json a person sees the human text only on a terminal; elsewhere it goes nowhere.
struct TJsonMode {
  bool on = false;
  bool humanWatches = false;
  std::FILE* human = nullptr;  // standard error or the null device; closed by the destructor
  ~TJsonMode() {
    if (human != nullptr && human != stderr) std::fclose(human);
  }
};

// --restore alone: the backups kept, oldest first, with the file to give --restore.
int PrintBackups(std::FILE* out) {
  const std::string folder = BackupDirectory();
  const auto backups = ListBackups(folder);
  if (backups.empty()) {
    std::fprintf(out, "No backups in %s.\n", folder.empty() ? "(no folder)" : folder.c_str());
    return kExitVerified;
  }
  for (const auto& [path, manifest] : backups) {
    std::fprintf(out, "%s\n    %s\n", BackupLine(manifest).c_str(), path.c_str());
  }
  return kExitVerified;
}

int Run(int argc, char** argv) {
  // A reader that stops reading (a closed pipe, "| head") must never end the program, least
  // of all between two drives or before a run log is complete: writes to it fail instead,
  // and the exit status stays the outcome's.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  TJsonMode json;
  json.on = WantsJson(args);
  json.humanWatches = isatty(STDERR_FILENO) != 0;
  json.human = !json.on || json.humanWatches ? stderr : std::fopen("/dev/null", "w");
  TJsonEvents events(stdout);
  // An error before any run: a JSON "error" event, or the line a person reads.
  const auto fail = [&](const std::string& code, const std::string& message, bool usage) {
    if (json.on) events.Error(code, message, kExitUsage);
    if (!json.on || json.humanWatches) {
      if (usage) {
        PrintCliUsageError(message, stderr);
      } else {
        std::fprintf(stderr, "tavoflash-cli: %s\n", message.c_str());
      }
    }
    return kExitUsage;
  };

  const TCommandLine line = ParseCommandLine(args);
  TCliOptions options;
  std::string error = line.error;
  if (!line.Ok() || !ParseCliArgs(line.rest, options, error)) return fail("usage", error, true);
  if (line.help) {
    PrintCliUsage(json.on ? stderr : stdout);
    return kExitVerified;
  }
  if (line.version) {
    if (json.on) {
      events.Start(EmbeddedImage(), line.options);
    } else {
      std::fputs(VersionText("tavoflash-cli", EmbeddedImage()).c_str(), stdout);
    }
    return kExitVerified;
  }
  if (!CheckCliCombination(options, error)) return fail("usage", error, true);
  if (options.history) {
    return PrintHistory(ReadRunHistory(TRunLog::DefaultDirectory()), json.on ? &events : nullptr,
                        stdout);
  }
  if (options.report) return WriteReportCommand(options, EmbeddedImage());
  if (options.restore && options.restoreFile.empty()) return PrintBackups(stdout);
  // A restore flashes the backup instead of the image the program carries, once the file
  // proved to be a whole backup this program made.
  std::optional<TLoadedBackup> backup;
  std::optional<TFirmwareImage> backupImage;
  if (!options.restoreFile.empty()) {
    backup = LoadBackup(options.restoreFile, error);
    if (!backup) return fail("backup", error, false);
    backupImage.emplace(backup->container);
  }
  const TFirmwareImage& image = backupImage ? *backupImage : EmbeddedImage();
  if (json.on) events.Start(image, line.options);

  if (const std::string bad = CheckOutputFiles(line.options); !bad.empty()) {
    return fail("output_file", bad, false);
  }

  TRealClock clock;
  TCliAtapiSink textSink;
  TJsonAtapiSink jsonSink(events, json.humanWatches ? &textSink : nullptr);
  TAtapiSink& sink = json.on ? static_cast<TAtapiSink&>(jsonSink) : textSink;
  TDriveSession session(line.options, clock, sink,
                        {.program = "tavoflash-cli",
                         .image = &image,
                         .mode = options.check  ? "check"
                                 : options.list ? "list"
                                                : "run",
                         .backup = !line.options.noBackup});
  if (!session.Ok()) return fail("session", session.Error(), false);

  if (options.check) {
    return RunCheck(session.Atapi(), EmbeddedImage(), clock, stdout, line.options.logPath,
                    options.drive, options.drivePath);
  }

  TUserPort* port = nullptr;
  TSystemRestarter restarter(
      session.Emulated(),
      {.log = [&port](const std::string& text) { port->AddLog(text); },
       .failure =
           [](const std::string& why) {
             std::fprintf(stderr, "tavoflash-cli: the restart request failed: %s\n", why.c_str());
           }});
  TRunRecord record("tavoflash-cli", line.options, line.options.logPath);
  record.SetFlight(&session.Flight());
  TCliPort::TOptions portOptions;
  portOptions.restarter = &restarter;
  portOptions.showProgress = isatty(STDERR_FILENO) != 0;
  portOptions.phaseLines = !portOptions.showProgress;
  portOptions.logTap = [&record](const std::string& text) { record.Line(text); };
  if (options.reboot) {
    portOptions.rebootAnswer = true;
  } else if (options.yes) {
    portOptions.rebootAnswer = false;
  }

  // --json: events on standard output; the terminal's own port and words on standard error
  // when a person watches it.
  std::unique_ptr<TCliPort> textPort;
  std::unique_ptr<TJsonPort> jsonPort;
  TTextReport textReport(stderr);
  std::unique_ptr<TJsonReport> jsonReport;
  if (json.on) {
    TCliPort::TOptions human = portOptions;
    human.logTap = nullptr;
    human.restarter = nullptr;
    if (json.humanWatches) textPort = std::make_unique<TCliPort>(human, stderr, stderr, stdin);
    jsonPort =
        std::make_unique<TJsonPort>(events, TJsonPort::TOptions{.rebootAnswer = options.reboot,
                                                                .restarter = &restarter,
                                                                .logTap = portOptions.logTap,
                                                                .human = textPort.get()});
    jsonReport = std::make_unique<TJsonReport>(events, ImageIdentity(image),
                                               json.humanWatches ? &textReport : nullptr);
    port = jsonPort.get();
  } else {
    textPort = std::make_unique<TCliPort>(portOptions);
    port = textPort.get();
  }

  TFlashState state;
  TFlashEngine engine(state, session.Atapi(), image, *port, clock);
  TBackupKeeper keeper(BackupDirectory(), BackupSkipReason(line.options, session));
  engine.SetBackupStore(&keeper);
  if (backup) {
    engine.SetRestore(true);
    engine.SetExpectedMemorySha256(backup->manifest.memorySha256);
  }
  TCliStartupHooks hooks(options, json.on ? json.human : stdout, json.human);
  hooks.SetDrives(session.Atapi());
  TCliFlashParts parts{.options = options,
                       .image = image,
                       .engine = engine,
                       .state = state,
                       .atapi = session.Atapi(),
                       .ui = *port,
                       .hooks = hooks,
                       .record = record,
                       .report = json.on ? static_cast<TCliReport&>(*jsonReport) : textReport,
                       .driveChanged = {},
                       .beforeRun = {},
                       .signalNotice = !json.on || json.humanWatches};
  if (json.on) {
    parts.driveChanged = [&jsonPort](const std::string& node) { jsonPort->SetNode(node); };
  }
  // The last question before the first command that writes to each drive: which drive,
  // which change (--yes answers it).
  parts.beforeRun = [&hooks, &session, &backup](const TFlashState& selected) {
    const TFlashTarget target = SelectedTarget(session.Atapi(), selected);
    if (backup) return hooks.ConfirmLast(RestoreQuestion(TargetText(target), backup->manifest));
    return hooks.ConfirmTarget(target);
  };
  return RunCliFlash(parts);
}

}  // namespace
}  // namespace tavo

int main(int argc, char** argv) {
  return tavo::Run(argc, argv);
}
