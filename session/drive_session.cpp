#include "session/drive_session.h"

#include <cstdio>

#include "drive/bus_recorder.h"
#include "drive/linux/linux_ports.h"
#include "emulator/profiles.h"
#include "emulator/recording_reader.h"
#include "emulator/replay_bus.h"
#include "emulator/virtual_bus.h"
#include "image/firmware_image.h"
#include "platform/record_file.h"
#include "session/drive_file.h"
#include "session/flight_recorder.h"
#include "session/replay_source.h"
#include "session/version.h"

namespace tavo {

struct TDriveSession::TImpl {
  std::unique_ptr<TVirtualBus> bus;
  std::unique_ptr<TReplayBus> replay;
  std::unique_ptr<TLinuxPassThroughPort> passThrough;
  std::unique_ptr<TLinuxAspiPort> aspi;
  std::unique_ptr<TRecordFile> recordFile;
  TFlightRecorder flight;
  std::unique_ptr<TBusRecorder> recorder;
  std::unique_ptr<TRecordingPassThroughPort> recordingPassThrough;
  std::unique_ptr<TRecordingAspiPort> recordingAspi;
  bool initialized = false;
  bool emulated = false;
  bool replayWithoutBackup = false;
  std::string error;

  // Records the ports when asked to, then constructs the program-wide object.
  void Start(const TStartupOptions& options, const TSessionIdentity& identity, TClock& clock,
             TAtapiConfig& config);
  bool OpenReplay(const std::string& path, const std::string& mode, TClock& clock, TAtapiSink& sink,
                  TAtapiConfig& config);
  bool StartRecording(const TStartupOptions& options, const TSessionIdentity& identity,
                      TClock& clock, TAtapiConfig& config);
};

bool TDriveSession::TImpl::OpenReplay(const std::string& path, const std::string& mode,
                                      TClock& clock, TAtapiSink& sink, TAtapiConfig& config) {
  std::string why;
  std::optional<TRecording> recording = ReadReplaySource(path, why);
  if (!recording) {
    error = "--emulate=replay: " + path + " " + why;
    return false;
  }
  // A check sends other commands than a run: replaying one as the other would only end in
  // a divergence that says nothing about the drive. A list is the start of both.
  const auto recorded = recording->header.find("mode");
  if (recorded != recording->header.end() && recorded->is_string() && mode != "list") {
    const std::string was = recorded->get<std::string>();
    if ((was == "run" || was == "check") && was != mode) {
      error = "--emulate=replay: " + path + " records a " + was + ", not a " + mode +
              (was == "check" ? ": replay it with --check" : ": replay it without --check");
      return false;
    }
  }
  const auto backup = recording->header.find("backup");
  replayWithoutBackup =
      backup == recording->header.end() || !backup->is_boolean() || !backup->get<bool>();
  config.passThrough = !recording->aspi;
  replay = std::make_unique<TReplayBus>(
      std::move(*recording), clock,
      [&sink](const std::string& text) { sink.ShowPlainMessage(text); });
  config.passThroughPort = replay.get();
  config.aspiPort = replay.get();
  return true;
}

bool TDriveSession::TImpl::StartRecording(const TStartupOptions& options,
                                          const TSessionIdentity& identity, TClock& clock,
                                          TAtapiConfig& config) {
  if (!options.recordFile.empty()) {
    recordFile = TRecordFile::Create(options.recordFile, options.recordOverwrite, error);
    if (!recordFile) return false;
  }
  // Every session records for the flight recorder; --record FILE gets the same lines.
  recorder = std::make_unique<TBusRecorder>(clock, [this](const std::string& line) {
    flight.Add(line);
    if (recordFile) recordFile->WriteLine(line);
  });
  TRecordingHeader header;
  header.program = identity.program;
  header.programVersion = ProgramVersion();
  if (identity.image != nullptr) {
    header.image = ImageDescription(*identity.image);
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%04Xh", unsigned{identity.image->Header().Checksum});
    header.imageChecksum = checksum;
  }
  header.kernel = KernelDescription();
  header.aspi = !config.passThrough;
  header.mode = identity.mode;
  if (identity.mode == "run") header.backup = identity.backup;
  recorder->WriteHeader(header);
  // Only the port the session talks through is recorded.
  if (config.passThrough && config.passThroughPort != nullptr) {
    recordingPassThrough =
        std::make_unique<TRecordingPassThroughPort>(*config.passThroughPort, *recorder);
    config.passThroughPort = recordingPassThrough.get();
  }
  if (!config.passThrough && config.aspiPort != nullptr) {
    recordingAspi = std::make_unique<TRecordingAspiPort>(*config.aspiPort, *recorder);
    config.aspiPort = recordingAspi.get();
  }
  return true;
}

TDriveSession::TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink,
                             const TSessionIdentity& identity)
    : impl_(std::make_unique<TImpl>()) {
  TAtapiConfig config;
  config.passThrough = !options.aspi;
  config.sink = &sink;
  config.clock = &clock;
  if (options.emulate && !options.replayFile.empty()) {
    impl_->emulated = true;
    if (!impl_->OpenReplay(options.replayFile, identity.mode, clock, sink, config)) return;
  } else if (options.emulate) {
    impl_->emulated = true;
    impl_->bus = std::make_unique<TVirtualBus>(clock);
    const std::vector<std::string> names =
        options.profiles.empty() ? std::vector<std::string>{"default"} : options.profiles;
    for (size_t k = 0; k < names.size(); ++k) {
      const std::optional<TDriveProfile> profile = FindProfile(names[k]);
      if (!profile) {
        impl_->error = "unknown drive profile '" + names[k] + "'";
        return;
      }
      TVirtualDrive& drive = impl_->bus->AddDrive(*profile);
      const std::string file = k < options.driveFiles.size() ? options.driveFiles[k] : "";
      const auto writeFailed = [&sink](const std::string& text) { sink.ShowPlainMessage(text); };
      if (!file.empty() && !AttachDriveFile(drive, file, writeFailed, impl_->error)) return;
    }
    config.passThroughPort = impl_->bus.get();
    config.aspiPort = impl_->bus.get();
  } else if (options.aspi) {
    impl_->aspi = std::make_unique<TLinuxAspiPort>();
    config.aspiPort = impl_->aspi.get();
  } else {
    impl_->passThrough = std::make_unique<TLinuxPassThroughPort>();
    config.passThroughPort = impl_->passThrough.get();
  }
  impl_->Start(options, identity, clock, config);
}

TDriveSession::TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink,
                             const TSessionPorts& ports, const TSessionIdentity& identity)
    : impl_(std::make_unique<TImpl>()) {
  TAtapiConfig config;
  config.passThrough = !options.aspi;
  config.sink = &sink;
  config.clock = &clock;
  config.passThroughPort = ports.passThrough;
  config.aspiPort = ports.aspi;
  impl_->emulated = ports.emulated;
  impl_->Start(options, identity, clock, config);
}

void TDriveSession::TImpl::Start(const TStartupOptions& options, const TSessionIdentity& identity,
                                 TClock& clock, TAtapiConfig& config) {
  if (AtapiExists()) {
    error = "the drive-access object exists already";
    return;
  }
  if (!StartRecording(options, identity, clock, config)) return;
  AtapiUnitInitialize(config);
  initialized = true;
}

TDriveSession::~TDriveSession() {
  if (impl_->initialized) AtapiUnitFinalize();
}

bool TDriveSession::Ok() const {
  return impl_->initialized;
}
const std::string& TDriveSession::Error() const {
  return impl_->error;
}
TAtapi& TDriveSession::Atapi() {
  return tavo::Atapi();
}
bool TDriveSession::Emulated() const {
  return impl_->emulated;
}
TVirtualBus* TDriveSession::Bus() {
  return impl_->bus.get();
}
TReplayBus* TDriveSession::Replay() {
  return impl_->replay.get();
}
TFlightRecorder& TDriveSession::Flight() {
  return impl_->flight;
}

bool TDriveSession::ReplayWithoutBackup() const {
  return impl_->replay != nullptr && impl_->replayWithoutBackup;
}

}  // namespace tavo
