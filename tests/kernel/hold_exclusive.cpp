// tavo-hold-exclusive DEVICE READY_FILE: opens DEVICE with O_EXCL (as a mount or another
// burning program would hold it), creates READY_FILE, and keeps the device until killed.
// The kernel test uses it to show that tavoflash-cli refuses a drive held this way.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DEVICE READY_FILE\n", argv[0]);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  const int ready = open(argv[2], O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (ready >= 0) close(ready);
  for (;;) pause();
}
