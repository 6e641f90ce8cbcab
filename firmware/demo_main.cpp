// tavo-demo-firmware OUTDIR: writes the plain demo banks as OUTDIR/bank0.bin .. bank7.bin.
// Fails (and writes nothing) when the banks do not have every promised property.
#include <cstdio>
#include <fstream>
#include <string>

#include "firmware/demo_firmware.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tavo-demo-firmware OUTDIR\n");
    return 2;
  }
  const auto banks = tavo::demo::DemoBanks();
  const std::string problem = tavo::demo::VerifyDemoBanks(banks);
  if (!problem.empty()) {
    std::fprintf(stderr, "tavo-demo-firmware: %s\n", problem.c_str());
    return 1;
  }
  for (size_t n = 0; n < banks.size(); ++n) {
    const std::string path = std::string(argv[1]) + "/bank" + std::to_string(n) + ".bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(banks[n].data()),
              static_cast<std::streamsize>(banks[n].size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "tavo-demo-firmware: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
