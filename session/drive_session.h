// The drive session: the ports the start-up options call for (real devices on either
// transport, or virtual drives), or ports the caller brings, and the program-wide TAtapi
// built on them.
//
// Typical use:
//   TDriveSession session(options, clock, sink);  // constructs the TAtapi
//   if (!session.Ok()) { print session.Error(); exit 2; }
//   ... session.Atapi() ...
//   // the TAtapi is destroyed with the session
//
// Tests and the fuzzer bring their own drives and clock, and run the programs' start-up
// over them:
//   TDriveSession session(options, clock, sink, TSessionPorts{&bus, &bus});
#pragma once

#include <memory>
#include <string>

#include "drive/atapi.h"
#include "drive/clock.h"
#include "drive/ports.h"
#include "session/options.h"

namespace tavo {

class TVirtualBus;
class TReplayBus;
class TFirmwareImage;
class TFlightRecorder;

// Ports the caller brings instead of the ones the options call for. They must outlive the
// session. The transport is still the options' choice, and --record still records them.
struct TSessionPorts {
  TPassThroughPort* passThrough = nullptr;
  TAspiPort* aspi = nullptr;
  bool emulated = true;  // the drives are not real ones: the computer is never restarted
};

// What a recording's header says about the program (for --record).
struct TSessionIdentity {
  std::string program = "tavoflash";
  const TFirmwareImage* image = nullptr;
  // What the program does with the drives: "run" (a flash run may follow), "check" (the
  // read-only check) or "list". A recording notes it, and a replay of a recording made in
  // the other of run and check is refused before anything is sent.
  std::string mode = "run";
  // A run reads the drive into a backup before it writes (false with --no-backup).
  bool backup = true;
};

// The ports the options call for, and the program-wide TAtapi built on them through
// AtapiUnitInitialize; the destructor calls AtapiUnitFinalize and then releases the ports.
// --emulate=replay:FILE reads the whole recording first (a plain or gzip-compressed
// recording, or a support report; one that does not parse stops the session with the line
// and the fault); recording ports always sit between the TAtapi and the ports (the flight
// recorder, and --record FILE when given), and a replay's divergence goes to the sink.
// The clock and the sink must outlive the session. Only one session may exist at a time.
class TDriveSession {
 public:
  TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink,
                const TSessionIdentity& identity = {});
  TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink,
                const TSessionPorts& ports, const TSessionIdentity& identity = {});
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
  // The bus that carries the virtual drives the session built, nullptr when the drives are
  // real or the caller brought the ports.
  TVirtualBus* Bus();
  // The drive answering from a recording, nullptr unless --emulate=replay:FILE.
  TReplayBus* Replay();
  // A replay of a recording whose runs made no backup (made with --no-backup, or before
  // backups existed): the replayed run must not make one either, or it would send reads the
  // recording does not hold.
  bool ReplayWithoutBackup() const;

  // The session's recording in memory, which each run writes beside its run log
  // (TRunRecord::SetFlight).
  TFlightRecorder& Flight();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace tavo
