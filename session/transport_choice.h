// Which transport the program runs on: the pass-through one (the default) or the
// ASPI-style one over the sg driver, named by --transport=NAME on the command line or by
// the environment variable TAVOFLASH_TRANSPORT (the start-up options read both).
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

}  // namespace tavo
