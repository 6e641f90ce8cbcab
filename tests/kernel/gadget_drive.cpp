// tavo-usb-drive: serves a TVirtualDrive as a USB mass-storage device (SCSI command set,
// Bulk-Only Transport) through FunctionFS. On a kernel with dummy_hcd the host side of the
// same kernel then sees an optical drive behind a USB bridge and binds usb-storage, sr and
// sg to it, so the program's real SG_IO and sg-driver paths reach this drive.
//
// usage: tavo-usb-drive FFS_DIR PROFILE [READY_FILE [COMMAND_LOG]]
//   FFS_DIR     mount point of the FunctionFS instance (holds ep0)
//   PROFILE     name of a virtual drive profile
//   READY_FILE  created once the descriptors are written and the endpoints are open, so
//               the caller knows when to bind the gadget to the controller
//   COMMAND_LOG every command block the drive receives, from anyone, as it arrives: one
//               line of lower-case hex each, padded with zeros to 12 bytes (as the
//               program's recordings write them)
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "drive/clock.h"
#include "emulator/profiles.h"
#include "emulator/virtual_drive.h"
#include "tests/kernel/bot_target.h"

namespace {

using tavo::kernel::TBotTarget;

// Largest data phase accepted; the host's sr driver never asks for more than 120 KiB.
constexpr uint32_t kMaxTransfer = 1u << 20;

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// One interface (mass storage, SCSI transparent command set, Bulk-Only) with a bulk-in
// and a bulk-out endpoint, for full and high speed.
std::vector<uint8_t> Descriptors() {
  auto speed = [](std::vector<uint8_t>& out, uint16_t maxPacket) {
    const uint8_t interface[] = {9, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06, 0x50,
                                 1};
    out.insert(out.end(), std::begin(interface), std::end(interface));
    for (uint8_t address : {uint8_t(1 | USB_DIR_IN), uint8_t(2 | USB_DIR_OUT)}) {
      out.insert(out.end(),
                 {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
      PutLe16(out, maxPacket);
      out.push_back(0);
    }
  };
  std::vector<uint8_t> body;
  PutLe32(body, 3);  // full-speed descriptor count
  PutLe32(body, 3);  // high-speed descriptor count
  speed(body, 64);
  speed(body, 512);
  std::vector<uint8_t> out;
  PutLe32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  PutLe32(out, uint32_t(12 + body.size()));
  PutLe32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> Strings() {
  const char text[] = "TAVO virtual optical drive";
  std::vector<uint8_t> body;
  PutLe16(body, 0x0409);
  body.insert(body.end(), text, text + sizeof(text));  // with its terminating zero
  std::vector<uint8_t> out;
  PutLe32(out, FUNCTIONFS_STRINGS_MAGIC);
  PutLe32(out, uint32_t(16 + body.size()));
  PutLe32(out, 1);  // strings per language
  PutLe32(out, 1);  // languages
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Reads one transfer of at most size bytes; a short packet from the host ends it early.
ssize_t ReadTransfer(int fd, uint8_t* data, size_t size) {
  for (;;) {
    const ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

// Answers the class requests of a Bulk-Only device on ep0 until the process ends.
void ServeControl(int ep0) {
  for (;;) {
    usb_functionfs_event events[4];
    const ssize_t n = read(ep0, events, sizeof(events));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t i = 0; i < n / ssize_t(sizeof(events[0])); ++i) {
      if (events[i].type != FUNCTIONFS_SETUP) continue;
      const usb_ctrlrequest& setup = events[i].u.setup;
      const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
      if (setup.bRequestType == (USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
          setup.bRequest == 0xFE) {  // Get Max LUN: one logical unit
        const uint8_t maxLun = 0;
        if (write(ep0, &maxLun, 1) < 0) std::perror("tavo-usb-drive: max lun");
      } else if (setup.bRequestType == (USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE) &&
                 setup.bRequest == 0xFF) {  // Bulk-Only reset: acknowledge
        if (read(ep0, nullptr, 0) < 0) std::perror("tavo-usb-drive: reset");
      } else if (in) {  // anything else is stalled (I/O in the wrong direction)
        if (read(ep0, nullptr, 0) < 0 && errno != EL2HLT) std::perror("tavo-usb-drive: stall");
      } else {
        if (write(ep0, nullptr, 0) < 0 && errno != EL2HLT) std::perror("tavo-usb-drive: stall");
      }
    }
  }
}

// Serves command after command on the bulk endpoints. Returns when an endpoint fails for
// good (the function was torn down).
void ServeBulk(int epIn, int epOut, TBotTarget& target) {
  std::vector<uint8_t> data;
  data.reserve(kMaxTransfer);
  uint8_t cbwBytes[512];
  for (;;) {
    const ssize_t got = ReadTransfer(epOut, cbwBytes, sizeof(cbwBytes));
    if (got < 0) {
      if (errno == ESHUTDOWN || errno == ECONNRESET || errno == EAGAIN) {
        usleep(10000);  // host not connected (yet): wait for the function to be enabled
        continue;
      }
      std::perror("tavo-usb-drive: read command");
      return;
    }
    const auto cbw = tavo::kernel::ParseCbw(cbwBytes, size_t(got));
    if (!cbw) {
      // Not a valid wrapper: ignore it; the host recovers with a reset.
      std::fprintf(stderr, "tavo-usb-drive: invalid command wrapper (%zd bytes)\n", got);
      continue;
    }
    data.clear();
    if (!cbw->dataIn && cbw->dataLength > 0 && target.Accepts(*cbw)) {
      data.resize(cbw->dataLength);
      const ssize_t n = ReadTransfer(epOut, data.data(), data.size());
      if (n < 0) continue;
      data.resize(size_t(n));
    }
    const auto csw = target.Run(*cbw, data);
    if (cbw->dataIn && cbw->dataLength > 0 && target.Accepts(*cbw)) {
      if (!WriteAll(epIn, data.data(), data.size())) continue;
    }
    if (!WriteAll(epIn, csw.data(), csw.size())) continue;
  }
}

int OpenOrDie(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags);
  if (fd < 0) {
    std::fprintf(stderr, "tavo-usb-drive: %s: %s\n", path.c_str(), std::strerror(errno));
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: %s FFS_DIR PROFILE [READY_FILE [COMMAND_LOG]]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const auto profile = tavo::FindProfile(argv[2]);
  if (!profile) {
    std::fprintf(stderr, "tavo-usb-drive: unknown profile %s\n", argv[2]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);

  tavo::TRealClock clock;
  tavo::TVirtualDrive drive(*profile, clock);
  std::FILE* commandLog = argc == 5 ? std::fopen(argv[4], "w") : nullptr;
  // Only the bulk loop below reaches the drive; the control thread never does.
  TBotTarget target(
      [&](const uint8_t* cdb, size_t cdbLength, uint8_t* data, uint32_t length,
          tavo::TDataDirection direction) {
        if (commandLog != nullptr) {
          for (size_t i = 0; i < std::max<size_t>(cdbLength, 12); ++i) {
            std::fprintf(commandLog, "%02x", i < cdbLength ? cdb[i] : 0);
          }
          std::fputc('\n', commandLog);
          std::fflush(commandLog);
        }
        return drive.Execute(cdb, cdbLength, data, length, direction);
      },
      kMaxTransfer);

  const int ep0 = OpenOrDie(dir + "/ep0", O_RDWR);
  const auto descriptors = Descriptors();
  const auto strings = Strings();
  if (!WriteAll(ep0, descriptors.data(), descriptors.size()) ||
      !WriteAll(ep0, strings.data(), strings.size())) {
    std::fprintf(stderr, "tavo-usb-drive: descriptors refused: %s\n", std::strerror(errno));
    return 1;
  }
  const int epIn = OpenOrDie(dir + "/ep1", O_RDWR);
  const int epOut = OpenOrDie(dir + "/ep2", O_RDWR);
  if (argc >= 4) {
    const int ready = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (ready >= 0) close(ready);
  }

  std::thread control(ServeControl, ep0);
  control.detach();
  ServeBulk(epIn, epOut, target);
  return 1;
}
