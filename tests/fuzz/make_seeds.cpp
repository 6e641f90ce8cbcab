// Writes the seed corpora of the fuzz targets from the virtual drive's profiles:
//   make_seeds <dir>  ->  <dir>/drive_replies/*, <dir>/container/*
// drive_replies: every profile on both transports, with and without the identity-check
// flag, replies untouched. container: for every profile a small image naming that drive,
// in the compact form the target spreads out.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/profiles.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void Write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The seed form of a container: its header, then the first 1 KiB of each bank's slot, which
// the target spreads back over the slots. Small seeds keep the fuzzer fast.
std::vector<uint8_t> Compact(const std::vector<uint8_t>& container) {
  constexpr size_t kHeader = 64, kSlot = 65536, kKept = 0x400;
  std::vector<uint8_t> out(container.begin(), container.begin() + kHeader);
  for (size_t start = kHeader; start + kKept <= container.size(); start += kSlot) {
    out.insert(out.end(), container.begin() + static_cast<std::ptrdiff_t>(start),
               container.begin() + static_cast<std::ptrdiff_t>(start + kKept));
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <dir>\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path root(argv[1]);
  fs::create_directories(root / "drive_replies");
  fs::create_directories(root / "container");
  const auto& names = tavo::ProfileNames();
  for (size_t p = 0; p < names.size(); ++p) {
    for (uint8_t setup : {0x00, 0x01, 0x08, 0x09, 0x12, 0x13}) {
      Write(root / "drive_replies" / (names[p] + "-" + std::to_string(setup)),
            {setup, static_cast<uint8_t>(p), static_cast<uint8_t>(p)});
    }
    const tavo::TDriveProfile profile = *tavo::FindProfile(names[p]);
    const std::string identity = profile.vendor + profile.product + profile.revision;
    for (uint8_t check : {0x10, 0x20}) {
      for (uint8_t scramble : {0x00, 0x01}) {
        const std::vector<uint8_t> image =
            tavo::fuzz::SmallImage(check, scramble, identity, profile.family[0], profile.family[1]);
        Write(root / "container" /
                  (names[p] + "-" + std::to_string(check) + "-" + std::to_string(scramble)),
              Compact(image));
      }
    }
  }
  return 0;
}
