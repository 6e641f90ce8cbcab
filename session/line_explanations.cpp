#include "session/line_explanations.h"

#include <cstdio>

#include "drive/scsi.h"

namespace tavo {

namespace {

enum class TMatch { Exact, Prefix, Contains };

struct TExplanation {
  TMatch match;
  const char* text;         // the line, its beginning, or a part of it
  const char* example;      // a whole line of this kind
  const char* explanation;  // "%P" stands for the program's name
};

// Each failure line the procedure, the drive layer and the start-up can show. Checked in
// order: the first entry that matches explains the line.
constexpr TExplanation kTable[] = {
    {TMatch::Exact, "Err:File Error !!", "Err:File Error !!",
     "This copy of the program carries no usable firmware image, so nothing was sent to the "
     "drive. Install the program again."},
    {TMatch::Exact, "Err:Memory allocation", "Err:Memory allocation",
     "The program could not get the working memory it needs, so it stopped. Close other "
     "programs and run %P again."},
    {TMatch::Exact, "Err: Cannot update this device use this update file!!",
     "Err: Cannot update this device use this update file!!",
     "This drive belongs to the older hardware family, and its model is not one this image "
     "may update. Nothing was written: use the update made for this drive's model."},
    {TMatch::Exact, "Err:The firmware is not support this device!!(4)",
     "Err:The firmware is not support this device!!(4)",
     "The drive's hardware family differs from the one this image is built for. Nothing was "
     "written: this image is not for this drive."},
    {TMatch::Exact, "The Firmware isn't support this device !!(3)",
     "The Firmware isn't support this device !!(3)",
     "The drive's vendor and model do not match the model this image is built for. Nothing "
     "was written: this image is not for this drive."},
    {TMatch::Exact, "This firmware isn't support !!(10)", "This firmware isn't support !!(10)",
     "The drive's firmware lacks the design mark this image requires, so the image is not "
     "meant for this drive. The firmware was not sent; the outcome says whether anything "
     "else was written. Ask the drive's maker for the right update."},
    {TMatch::Exact, "Err:The firmware is not support this device!!(11)",
     "Err:The firmware is not support this device!!(11)",
     "The drive did not show the part of its memory the download needs, so the rest of the "
     "firmware was not sent. Do not power off: check the drive's connection and run %P again."},
    {TMatch::Exact, "Err:The firmware is not support this device!!(7)",
     "Err:The firmware is not support this device!!(7)",
     "Asked after the failure, the drive's flash status was 0 (nothing attempted), or the "
     "drive did not answer. The outcome says what the drive took and what to do."},
    {TMatch::Exact, "Err:Backup read fail !!", "Err:Backup read fail !!",
     "The drive did not let its firmware be read for the backup made before every write, so "
     "nothing was written: the drive is unchanged. Check the drive's connection and run %P "
     "again."},
    {TMatch::Exact, "Err:Backup read unstable !!", "Err:Backup read unstable !!",
     "The drive's firmware read differently twice in a row, so no trustworthy backup could be "
     "made and nothing was written: the drive is unchanged. Check the drive's connection and "
     "run %P again."},
    {TMatch::Exact, "Err:Backup save fail !!", "Err:Backup save fail !!",
     "The backup of the drive's firmware could not be written to disk (the line above says "
     "why), so nothing was written to the drive. Free some disk space and run %P again."},
    {TMatch::Exact, "Err:Flash Fail!!", "Err:Flash Fail!!",
     "The drive reports that programming went wrong: its firmware may be incomplete. Do not "
     "power off or restart the computer; run %P again."},
    {TMatch::Exact, "Err:Flash Fail.", "Err:Flash Fail.",
     "The drive received the firmware but refused to program it. Do not power off or restart "
     "the computer; wait a minute, then run %P again."},
    {TMatch::Contains, "Err:Flash command(W) has problems.",
     "Status:0x2 ; Err:Flash command(W) has problems.",
     "The drive did not accept a part (bank) of the firmware; the status after 'Status:' is "
     "its answer. The outcome says whether the drive stored anything and what to do."},
    {TMatch::Prefix, "Time Out Status:", "Time Out Status:1;Debug:Trigger_SenseCode:2 : 4 : 7;",
     "The drive was still not ready when the wait ran out; the numbers after "
     "'Trigger_SenseCode:' are its last answer (%S)."},
    {TMatch::Prefix, "Err:Flash error,time out", "Err:Flash error,time out 120 Sec",
     "The drive did not come back within 120 seconds after programming. Do not power off or "
     "restart the computer: wait a few minutes, then run %P again."},
    {TMatch::Prefix, "Status:", "Status:4;SenseCode:6 : 29 : 0;",
     "The drive refused the command that programs the firmware; the numbers after "
     "'SenseCode:' are its answer (%S)."},
    {TMatch::Exact, "Err:Verify NG !!", "Err:Verify NG !!",
     "What the drive reads back does not match the image (or could not be read). Do not power "
     "off or restart the computer; run %P again to write the firmware once more."},
    {TMatch::Exact, "Can't find the device to upgrade !!", "Can't find the device to upgrade !!",
     "No drive of the image's model was found: the lines with this one say which drives "
     "were seen."},
    {TMatch::Exact, "WNASPI32.DLL not found", "WNASPI32.DLL not found",
     "No SCSI generic device (/dev/sg*) exists, so the sg-driver transport finds no drive. "
     "'sudo modprobe sg' loads the driver; the default transport (without --transport aspi) "
     "needs none."},
    {TMatch::Prefix, "Access to ", "Access to /dev/sr0 was refused.",
     "%P may not open this device node. Members of the 'cdrom' group may open /dev/sg* and "
     "/dev/sr* (join it, then log in again; a desktop session also grants its user /dev/sr*), "
     "or run %P with sudo."},
    {TMatch::Prefix, "Format message failed.", "Format message failed.  Error: 22",
     "The system reported an error the program could not put into words; the number is the "
     "system's error code. Run %P again; if it repeats, note the number."},
    {TMatch::Contains, "is being flashed by another program.",
     "Err:/dev/sr0 is being flashed by another program.",
     "Another program holds this drive's lock; nothing was sent. Wait until its run ends."},
    {TMatch::Contains, " is in use (a mounted disc or another program).",
     "Err:/dev/sr0 is in use (a mounted disc or another program).",
     "The kernel refused to let the program hold the drive alone; nothing was sent. Unmount "
     "the disc (or close the program that uses the drive) and start again."},
    {TMatch::Prefix, "Err:Battery at ", "Err:Battery at 18%: connect the computer to mains power.",
     "A run on a nearly empty battery could be cut off by a power loss; nothing was sent. "
     "Connect the computer to mains power and start again."},
};

bool Matches(const TExplanation& e, const std::string& line) {
  switch (e.match) {
    case TMatch::Exact:
      return line == e.text;
    case TMatch::Prefix:
      return line.rfind(e.text, 0) == 0;
    case TMatch::Contains:
      return line.find(e.text) != std::string::npos;
  }
  return false;
}

// The sense in "...SenseCode:K : A : Q;" (hexadecimal, as the line prints it), named.
std::string SenseOf(const std::string& line) {
  const size_t at = line.rfind("SenseCode:");
  unsigned key = 0;
  unsigned asc = 0;
  unsigned ascq = 0;
  if (at == std::string::npos ||
      std::sscanf(line.c_str() + at, "SenseCode:%x : %x : %x", &key, &asc, &ascq) != 3) {
    return "not named";
  }
  if (key == 0 && asc == 0 && ascq == 0) return "no sense: the drive gave no reason";
  return scsi::DescribeSense({static_cast<uint8_t>(key & 0x0F), static_cast<uint8_t>(asc & 0xFF),
                              static_cast<uint8_t>(ascq & 0xFF)});
}

std::string Fill(const char* text, const std::string& program, const std::string& line) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'P') {
      out += program;
      ++p;
    } else if (p[0] == '%' && p[1] == 'S') {
      out += SenseOf(line);
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

std::string ExplainLine(const std::string& line, const std::string& program) {
  for (const TExplanation& e : kTable) {
    if (Matches(e, line)) return Fill(e.explanation, program, line);
  }
  return {};
}

std::vector<std::string> ExplainedLineExamples() {
  std::vector<std::string> lines;
  for (const TExplanation& e : kTable) lines.emplace_back(e.example);
  return lines;
}

}  // namespace tavo
