// tavo-pack: packs plain bank files into a firmware container.
//
//   tavo-pack -o OUT [--identity-check HH] [--scramble-flag HH] [--checksum HHHH]
//             [--store plain|scrambled] BANK0 [BANK1 ...]
//
// Each bank file holds the plain bank content; its size is the bank length. Numbers are
// hexadecimal. Without --checksum the plain byte sum is written; with it, the given value
// must equal that sum.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/packer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: tavo-pack -o OUT [--identity-check HH] [--scramble-flag HH] "
               "[--checksum HHHH] [--store plain|scrambled] BANK...\n");
  return 2;
}

bool ParseHex(const std::string& text, unsigned max, unsigned& value) {
  if (text.empty() || text.size() > 4) return false;
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 16);
  if (*end != '\0' || v > max) return false;
  value = static_cast<unsigned>(v);
  return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  tavo::pack::TPackInput input;
  std::string outPath;
  std::vector<std::string> bankPaths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    unsigned value = 0;
    if (arg == "-o" && hasValue) {
      outPath = argv[++i];
    } else if (arg == "--identity-check" && hasValue && ParseHex(argv[++i], 0xFF, value)) {
      input.IdentityCheckFlag = static_cast<uint8_t>(value);
    } else if (arg == "--scramble-flag" && hasValue && ParseHex(argv[++i], 0xFF, value)) {
      input.ScrambleFlag = static_cast<uint8_t>(value);
    } else if (arg == "--checksum" && hasValue && ParseHex(argv[++i], 0xFFFF, value)) {
      input.Checksum = static_cast<uint16_t>(value);
    } else if (arg == "--store" && hasValue) {
      const std::string mode = argv[++i];
      if (mode != "plain" && mode != "scrambled") return Usage();
      input.ScrambleBanks = mode == "scrambled";
    } else if (!arg.empty() && arg[0] != '-') {
      bankPaths.push_back(arg);
    } else {
      return Usage();
    }
  }
  if (outPath.empty() || bankPaths.empty()) return Usage();

  for (const auto& path : bankPaths) {
    std::vector<uint8_t> bank;
    if (!ReadFile(path, bank)) {
      std::fprintf(stderr, "tavo-pack: cannot read bank file %s\n", path.c_str());
      return 1;
    }
    input.Banks.push_back(std::move(bank));
  }

  std::vector<uint8_t> container;
  std::string error;
  if (!tavo::pack::PackContainer(input, container, error)) {
    std::fprintf(stderr, "tavo-pack: %s\n", error.c_str());
    return 1;
  }
  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(container.data()),
            static_cast<std::streamsize>(container.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "tavo-pack: cannot write %s\n", outPath.c_str());
    std::remove(outPath.c_str());
    return 1;
  }
  return 0;
}
