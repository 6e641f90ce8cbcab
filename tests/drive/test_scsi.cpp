// The readable names of sense data: what a log or a failed test shows for a CHECK CONDITION.
#include <gtest/gtest.h>

#include <string>

#include "drive/scsi.h"

namespace tavo::scsi {
namespace {

TEST(SenseNames, KnownKeyAndCodeReadAsText) {
  EXPECT_EQ(DescribeSense(kSenseInvalidFieldInCdb),
            "ILLEGAL REQUEST: INVALID FIELD IN CDB (5/24h/00h)");
  EXPECT_EQ(DescribeSense(kSenseMediumNotPresentTrayOpen),
            "NOT READY: MEDIUM NOT PRESENT - TRAY OPEN (2/3Ah/02h)");
  EXPECT_EQ(DescribeSense(kSensePowerOnReset),
            "UNIT ATTENTION: POWER ON, RESET, OR BUS DEVICE RESET OCCURRED (6/29h/00h)");
}

TEST(SenseNames, QualifierPicksTheExactTextElseTheCodesGeneralOne) {
  EXPECT_EQ(AdditionalSenseName(0x04, 0x07), "LOGICAL UNIT NOT READY, OPERATION IN PROGRESS");
  EXPECT_EQ(AdditionalSenseName(0x04, 0x09), "LOGICAL UNIT NOT READY");
  EXPECT_EQ(AdditionalSenseName(0x3A, 0x05), "MEDIUM NOT PRESENT");
  // No general text for this code: an unknown qualifier is shown in hex.
  EXPECT_EQ(AdditionalSenseName(0x24, 0x01), "ASC/ASCQ 24h/01h");
}

TEST(SenseNames, UnknownValuesGiveHexText) {
  EXPECT_EQ(SenseKeyName(0x0F), "sense key 0Fh");
  EXPECT_EQ(AdditionalSenseName(0x55, 0x01), "ASC/ASCQ 55h/01h");
  EXPECT_EQ(DescribeSense({0x0F, 0x55, 0x01}), "sense key 0Fh: ASC/ASCQ 55h/01h (F/55h/01h)");
}

TEST(SenseNames, FlagBitsOfTheSenseByteDoNotHideTheKey) {
  // Byte 2 as the drive sends it, with the filemark and length-indicator flags set.
  EXPECT_EQ(SenseKeyName(0xA5), "ILLEGAL REQUEST");
  EXPECT_EQ(DescribeSense({0x85, kAscInvalidFieldInCdb, 0}),
            "ILLEGAL REQUEST: INVALID FIELD IN CDB (5/24h/00h)");
}

TEST(SenseNames, EveryNamedSenseCodeHasItsText) {
  for (const TSenseCode& s :
       {kSenseInvalidOpcode, kSenseInvalidFieldInCdb, kSenseParameterListLength,
        kSenseAddressOutOfRange, kSenseInvalidFieldInParameterList, kSenseSavingNotSupported,
        kSenseSequenceError, kSenseOperationInProgress, kSenseMediumNotPresent,
        kSenseMediumNotPresentTrayOpen, kSensePowerOnReset, kSenseUnrecoveredReadError}) {
    const std::string text = DescribeSense(s);
    EXPECT_EQ(text.find("sense key"), std::string::npos) << text;
    EXPECT_EQ(text.find("ASC/ASCQ"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace tavo::scsi
