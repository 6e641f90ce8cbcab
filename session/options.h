// The command line both front ends share: the options that choose where the drives come
// from (real devices or virtual drives, and which transport), help and version, parsed in
// one place. No toolkit here.
//
// Typical use:
//   const TCommandLine line = ParseCommandLine(args);  // argv[0] excluded
//   if (!line.Ok()) { print line.error; exit 2; }
//   if (line.help) ...; if (line.version) ...;
//   ... line.rest holds the front end's own arguments ...
#pragma once

#include <string>
#include <vector>

namespace tavo {

struct TStartupOptions {
  // --emulate[=PROFILE[,PROFILE...]]: virtual drives instead of real devices, one per
  // profile name, in the order given ("default" when no list is given).
  bool emulate = false;
  std::vector<std::string> profiles;
  // Beside each profile (same length as profiles, or empty): the file that keeps that
  // drive between runs (--emulate=PROFILE@FILE), "" for none.
  std::vector<std::string> driveFiles;
  // --transport=aspi (or TAVOFLASH_TRANSPORT=aspi): the sg-driver transport instead of
  // the pass-through one.
  bool aspi = false;
  // True once the command line named a transport; the environment then has no say.
  bool transportGiven = false;
  // --log FILE: the run's log is written to FILE as well.
  std::string logPath;
  // --emulate=replay:FILE: one virtual drive answering from a session recording (its
  // transport is the recording's).
  std::string replayFile;
  // --record FILE: every command and reply of the session goes to FILE; an existing FILE
  // is replaced only with --record-overwrite.
  std::string recordFile;
  bool recordOverwrite = false;
  // --no-backup: the run keeps no backup of the drive's firmware before it writes.
  bool noBackup = false;
};

enum class TOptionResult {
  NotMine,  // not a start-up option: the caller handles it
  Taken,    // recognised and stored in the options
  Bad,      // recognised but malformed; error holds a one-line explanation
};

// Looks at one command-line argument. Recognises "--emulate", "--emulate=LIST",
// "--emulate=replay:FILE", "--transport=NAME" (NAME "aspi" or "passthrough"/"sptd"/"sg_io"
// for the default), "--log=FILE", "--record=FILE", "--record-overwrite" and "--no-backup".
TOptionResult ParseStartupOption(const std::string& arg, TStartupOptions& options,
                                 std::string& error);

// Runs ParseStartupOption over every argument (argv[0] excluded by the caller); the
// arguments that are not start-up options go to rest, in order. "--transport NAME",
// "--log FILE" and "--record FILE" (value as the next argument) are taken as well. False on the
// first bad option, with error set.
bool ParseStartupArgs(const std::vector<std::string>& args, TStartupOptions& options,
                      std::vector<std::string>& rest, std::string& error);

// Applies the environment variable TAVOFLASH_TRANSPORT ("aspi" selects the sg-driver
// transport). A --transport option given on the command line wins over it: nothing
// changes when options.transportGiven is set. False for a value that names no transport,
// with error set.
bool ApplyTransportEnvironment(TStartupOptions& options, std::string& error);

// Help text for the start-up options, one option per line, ready to be appended to a
// front end's own usage text.
std::string StartupOptionsHelp();

// The whole command line as a front end sees it first.
struct TCommandLine {
  TStartupOptions options;
  // The arguments that are neither start-up options nor help or version, in order.
  std::vector<std::string> rest;
  bool help = false;     // --help or -h
  bool version = false;  // --version
  // A malformed start-up option, one line; empty when the line parsed.
  std::string error;
  bool Ok() const { return error.empty(); }
};

// Parses the arguments (argv[0] excluded) once: the start-up options, help and version;
// then, unless help or version was asked for, applies TAVOFLASH_TRANSPORT
// (ApplyTransportEnvironment).
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace tavo
