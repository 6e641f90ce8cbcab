#include "drive/transport_choice.h"

#include <cstdlib>
#include <cstring>

namespace tavo {

TTransportChoice ParseTransportName(const std::string& name) {
  TTransportChoice choice;
  if (name == "aspi" || name == "sg") {
    choice.kind = TTransportKind::Aspi;
  } else if (name == "passthrough" || name == "pass-through" || name == "sptd" || name == "sg_io") {
    choice.kind = TTransportKind::PassThrough;
  } else {
    choice.ok = false;
    choice.error = "unknown transport '" + name + "' (expected 'passthrough' or 'aspi')";
  }
  return choice;
}

TTransportChoice ChooseTransport(int argc, char** argv, const char* envValue) {
  static constexpr char kOption[] = "--transport";
  static constexpr size_t kOptionLength = sizeof kOption - 1;
  bool found = false;
  std::string name;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const char* arg = argv[i];
    if (arg == nullptr || std::strncmp(arg, kOption, kOptionLength) != 0) continue;
    if (arg[kOptionLength] == '=') {
      found = true;
      name = arg + kOptionLength + 1;
    } else if (arg[kOptionLength] == '\0') {
      found = true;
      if (i + 1 < argc && argv[i + 1] != nullptr) {
        name = argv[++i];
      } else {
        TTransportChoice missing;
        missing.ok = false;
        missing.error = "--transport needs a value ('passthrough' or 'aspi')";
        return missing;
      }
    }
  }
  if (found) return ParseTransportName(name);
  if (envValue != nullptr && *envValue != '\0') {
    TTransportChoice choice = ParseTransportName(envValue);
    if (!choice.ok) choice.error = "TAVOFLASH_TRANSPORT: " + choice.error;
    return choice;
  }
  return TTransportChoice{};
}

TTransportChoice ChooseTransport(int argc, char** argv) {
  return ChooseTransport(argc, argv, std::getenv("TAVOFLASH_TRANSPORT"));
}

bool AspiTransportRequested(int argc, char** argv) {
  const TTransportChoice choice = ChooseTransport(argc, argv);
  return choice.ok && choice.kind == TTransportKind::Aspi;
}

}  // namespace tavo
