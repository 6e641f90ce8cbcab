// Which transport the program runs on: the pass-through one (the default) or the
// ASPI-style one over the sg driver, chosen with --transport=NAME on the command line or
// the environment variable TAVOFLASH_TRANSPORT. Shared by both front ends.
#pragma once

#include <string>

namespace tavo {

enum class TTransportKind { PassThrough, Aspi };

struct TTransportChoice {
  bool ok = true;  // false: an unknown transport name was given
  TTransportKind kind = TTransportKind::PassThrough;
  std::string error;  // one line when !ok
};

// Interprets one transport name: "aspi" (also "sg"), or "passthrough" / "pass-through" /
// "sptd" / "sg_io" for the default. Case-sensitive. Anything else is an error.
TTransportChoice ParseTransportName(const std::string& name);

// Looks for "--transport=NAME" or "--transport NAME" in argv[1..argc-1] (the last one
// wins); when none is given, envValue (the value of TAVOFLASH_TRANSPORT, nullptr or empty
// when unset) decides; else the pass-through transport.
TTransportChoice ChooseTransport(int argc, char** argv, const char* envValue);

// Same, reading TAVOFLASH_TRANSPORT from the environment.
TTransportChoice ChooseTransport(int argc, char** argv);

// True when the command line or the environment asks for the ASPI-style transport. An
// unknown name gives false; call ChooseTransport to report it.
bool AspiTransportRequested(int argc, char** argv);

}  // namespace tavo
