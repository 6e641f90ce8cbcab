#include "drive/scsi.h"

#include <cstdio>

namespace tavo::scsi {
namespace {

std::string Hex2(uint8_t v) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

}  // namespace

std::string SenseKeyName(uint8_t key) {
  key &= 0x0F;  // the upper bits of the sense byte are flags, not part of the key
  switch (key) {
    case kNoSense:
      return "NO SENSE";
    case kRecoveredError:
      return "RECOVERED ERROR";
    case kNotReady:
      return "NOT READY";
    case kMediumError:
      return "MEDIUM ERROR";
    case kHardwareError:
      return "HARDWARE ERROR";
    case kIllegalRequest:
      return "ILLEGAL REQUEST";
    case kUnitAttention:
      return "UNIT ATTENTION";
    case kDataProtect:
      return "DATA PROTECT";
    case 0x8:
      return "BLANK CHECK";
    case 0x9:
      return "VENDOR SPECIFIC";
    case 0xA:
      return "COPY ABORTED";
    case kAbortedCommand:
      return "ABORTED COMMAND";
    case 0xD:
      return "VOLUME OVERFLOW";
    case 0xE:
      return "MISCOMPARE";
    default:
      return "sense key " + Hex2(key) + "h";
  }
}

std::string AdditionalSenseName(uint8_t asc, uint8_t ascq) {
  struct TName {
    uint8_t asc;
    int ascq;  // -1: any qualifier
    const char* text;
  };
  static constexpr TName kNames[] = {
      {0x00, 0x00, "NO ADDITIONAL SENSE INFORMATION"},
      {0x04, 0x00, "LOGICAL UNIT NOT READY, CAUSE NOT REPORTABLE"},
      {0x04, 0x01, "LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
      {0x04, 0x07, "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS"},
      {0x04, -1, "LOGICAL UNIT NOT READY"},
      {0x11, 0x00, "UNRECOVERED READ ERROR"},
      {0x1A, 0x00, "PARAMETER LIST LENGTH ERROR"},
      {0x20, 0x00, "INVALID COMMAND OPERATION CODE"},
      {0x21, 0x00, "LOGICAL BLOCK ADDRESS OUT OF RANGE"},
      {0x24, 0x00, "INVALID FIELD IN CDB"},
      {0x26, 0x00, "INVALID FIELD IN PARAMETER LIST"},
      {0x28, 0x00, "NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED"},
      {0x29, 0x00, "POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"},
      {0x29, -1, "POWER ON OR RESET OCCURRED"},
      {0x2C, 0x00, "COMMAND SEQUENCE ERROR"},
      {0x39, 0x00, "SAVING PARAMETERS NOT SUPPORTED"},
      {0x3A, 0x00, "MEDIUM NOT PRESENT"},
      {0x3A, 0x01, "MEDIUM NOT PRESENT - TRAY CLOSED"},
      {0x3A, 0x02, "MEDIUM NOT PRESENT - TRAY OPEN"},
      {0x3A, -1, "MEDIUM NOT PRESENT"},
      {0x44, 0x00, "INTERNAL TARGET FAILURE"},
  };
  for (const TName& n : kNames) {
    if (n.asc == asc && (n.ascq < 0 || n.ascq == ascq)) return n.text;
  }
  return "ASC/ASCQ " + Hex2(asc) + "h/" + Hex2(ascq) + "h";
}

std::string DescribeSense(const TSenseCode& sense) {
  char code[32];
  std::snprintf(code, sizeof code, " (%X/%02Xh/%02Xh)", sense.key & 0x0F, sense.asc, sense.ascq);
  return SenseKeyName(sense.key) + ": " + AdditionalSenseName(sense.asc, sense.ascq) + code;
}

}  // namespace tavo::scsi
