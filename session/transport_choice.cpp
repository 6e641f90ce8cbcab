#include "session/transport_choice.h"

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

}  // namespace tavo
