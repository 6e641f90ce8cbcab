#include "session/drive_session.h"

#include "drive/linux/linux_ports.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"

namespace tavo {

struct TDriveSession::TImpl {
  std::unique_ptr<TVirtualBus> bus;
  std::unique_ptr<TLinuxPassThroughPort> passThrough;
  std::unique_ptr<TLinuxAspiPort> aspi;
  bool initialized = false;
  bool emulated = false;
  std::string error;
};

TDriveSession::TDriveSession(const TStartupOptions& options, TClock& clock, TAtapiSink& sink)
    : impl_(std::make_unique<TImpl>()) {
  TAtapiConfig config;
  config.passThrough = !options.aspi;
  config.sink = &sink;
  config.clock = &clock;
  if (options.emulate) {
    impl_->emulated = true;
    impl_->bus = std::make_unique<TVirtualBus>(clock);
    const std::vector<std::string> names =
        options.profiles.empty() ? std::vector<std::string>{"default"} : options.profiles;
    for (const std::string& name : names) {
      const std::optional<TDriveProfile> profile = FindProfile(name);
      if (!profile) {
        impl_->error = "unknown drive profile '" + name + "'";
        return;
      }
      impl_->bus->AddDrive(*profile);
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
  if (AtapiExists()) {
    impl_->error = "the drive-access object exists already";
    return;
  }
  AtapiUnitInitialize(config);
  impl_->initialized = true;
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

}  // namespace tavo
