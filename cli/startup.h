// Start-up shared by both front ends (the window and the terminal): the options that
// choose where the drives come from (real devices or virtual drives, and which transport),
// and the program-wide TAtapi built on them. No toolkit here.
//
// Typical use:
//   TStartupOptions options;
//   std::vector<std::string> rest;
//   std::string error;
//   if (!ParseStartupArgs(args, options, rest, error)) { print error; exit 2; }
//   ApplyTransportEnvironment(options);  // TAVOFLASH_TRANSPORT=aspi
//   TDriveSession session(options, clock, sink);  // constructs the TAtapi
//   if (!session.Ok()) { print session.Error(); exit 2; }
//   ... Atapi() / session.Atapi() ...
//   // the TAtapi is destroyed with the session
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "drive/ports.h"

namespace tavo {

class TVirtualBus;

struct TStartupOptions {
  // --emulate[=PROFILE[,PROFILE...]]: virtual drives instead of real devices, one per
  // profile name, in the order given ("default" when no list is given).
  bool emulate = false;
  std::vector<std::string> profiles;
  // --transport=aspi (or TAVOFLASH_TRANSPORT=aspi): the sg-driver transport instead of
  // the pass-through one.
  bool aspi = false;
  // True once the command line named a transport; the environment then has no say.
  bool transportGiven = false;
};

enum class TOptionResult {
  NotMine,  // not a start-up option: the caller handles it
  Taken,    // recognised and stored in the options
  Bad,      // recognised but malformed; error holds a one-line explanation
};

// Looks at one command-line argument. Recognises "--emulate", "--emulate=LIST" and
// "--transport=NAME" (NAME "aspi" or "passthrough"/"sptd"/"sg_io" for the default).
TOptionResult ParseStartupOption(const std::string& arg, TStartupOptions& options,
                                 std::string& error);

// Runs ParseStartupOption over every argument (argv[0] excluded by the caller); the
// arguments that are not start-up options go to rest, in order. False on the first bad
// option, with error set.
bool ParseStartupArgs(const std::vector<std::string>& args, TStartupOptions& options,
                      std::vector<std::string>& rest, std::string& error);

// Applies the environment variable TAVOFLASH_TRANSPORT ("aspi" selects the sg-driver
// transport). A --transport option given on the command line wins over it: nothing
// changes when options.transportGiven is set.
void ApplyTransportEnvironment(TStartupOptions& options);

// Help text for the start-up options, one option per line, ready to be appended to a
// front end's own usage text.
std::string StartupOptionsHelp();

// The ports the options call for, and the program-wide TAtapi built on them through
// AtapiUnitInitialize; the destructor calls AtapiUnitFinalize and then releases the ports.
// The clock and the sink must outlive the session. Only one session may exist at a time.
class TDriveSession {
 public:
  TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink);
  ~TDriveSession();
  TDriveSession(const TDriveSession&) = delete;
  TDriveSession& operator=(const TDriveSession&) = delete;

  // False when the ports could not be built (for example an unknown profile name that
  // slipped past parsing); Error() then says why and no TAtapi exists.
  bool Ok() const;
  const std::string& Error() const;

  // The program-wide object (same as Atapi()). Only valid when Ok().
  TAtapi& Atapi();
  // True when the drives are virtual: the front ends then never restart the computer.
  bool Emulated() const;
  // The bus that carries the virtual drives, nullptr when the drives are real.
  TVirtualBus* Bus();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace tavo
