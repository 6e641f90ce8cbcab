#include "cli/startup.h"

#include <cstdlib>
#include <utility>

#include "drive/linux/linux_ports.h"
#include "drive/transport_choice.h"
#include "emulator/emulate_option.h"
#include "emulator/profiles.h"
#include "emulator/virtual_bus.h"

namespace tavo {

namespace {

constexpr char kTransportEnv[] = "TAVOFLASH_TRANSPORT";

}  // namespace

TOptionResult ParseStartupOption(const std::string& arg, TStartupOptions& options,
                                 std::string& error) {
  if (std::optional<TEmulateChoice> choice = MatchEmulateArgument(arg)) {
    if (!choice->Ok()) {
      error = choice->error;
      return TOptionResult::Bad;
    }
    options.emulate = true;
    options.profiles = std::move(choice->profiles);
    return TOptionResult::Taken;
  }
  const std::string prefix = "--transport=";
  if (arg.rfind(prefix, 0) == 0) {
    const TTransportChoice choice = ParseTransportName(arg.substr(prefix.size()));
    if (!choice.ok) {
      error = choice.error;
      return TOptionResult::Bad;
    }
    options.aspi = choice.kind == TTransportKind::Aspi;
    options.transportGiven = true;
    return TOptionResult::Taken;
  }
  if (arg == "--transport") {
    error = "--transport needs a value: --transport=aspi or --transport=passthrough";
    return TOptionResult::Bad;
  }
  return TOptionResult::NotMine;
}

bool ParseStartupArgs(const std::vector<std::string>& args, TStartupOptions& options,
                      std::vector<std::string>& rest, std::string& error) {
  for (const std::string& arg : args) {
    switch (ParseStartupOption(arg, options, error)) {
      case TOptionResult::Taken:
        break;
      case TOptionResult::NotMine:
        rest.push_back(arg);
        break;
      case TOptionResult::Bad:
        return false;
    }
  }
  return true;
}

void ApplyTransportEnvironment(TStartupOptions& options) {
  if (options.transportGiven) return;
  const char* value = std::getenv(kTransportEnv);
  if (value == nullptr || *value == '\0') return;
  const TTransportChoice choice = ParseTransportName(value);
  if (choice.ok) options.aspi = choice.kind == TTransportKind::Aspi;
}

std::string StartupOptionsHelp() {
  // Profile names, wrapped under the option's description.
  const std::string indent(16, ' ');
  std::string names = indent + "profiles:";
  size_t lineStart = 0;
  for (size_t i = 0; i < ProfileNames().size(); ++i) {
    const std::string word = " " + ProfileNames()[i] + (i + 1 < ProfileNames().size() ? "," : "");
    if (names.size() - lineStart + word.size() > 78) {
      names += "\n" + indent + word.substr(1);
      lineStart = names.size() - indent.size() - word.size() + 1;
    } else {
      names += word;
    }
  }
  return "  --emulate[=PROFILE[,PROFILE...]]\n"
         "                attach virtual drives instead of real ones (default profile\n"
         "                \"default\"; the computer is never restarted)\n" +
         names +
         "\n"
         "  --transport=aspi\n"
         "                use the sg driver instead of SG_IO on /dev/srN (also\n"
         "                TAVOFLASH_TRANSPORT=aspi)\n";
}

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
