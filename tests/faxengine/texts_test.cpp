#include <gtest/gtest.h>

#include "faxengine/fax_codes.h"
#include "faxengine/fax_components.h"

namespace veltrane::faxengine {
namespace {

TEST(FaxTexts, StatusMessagesCoverTheTableAndNothingElse) {
  static const struct {
    int code;
    const char* text;
  } kCases[] = {
      {1, "Initializing modem for fax processing"}, {3, "Busy, waiting until redial..."},
      {7, "Page accepted by remote"},               {28, "Got Class 2 FHNG code"},
      {42, "User abort"},                           {43, "Finished"},
      {0, ""},                                      {8, ""},
      {44, ""},                                     {-1, ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(StatusMsg(c.code), c.text) << c.code;
}

TEST(FaxTexts, ErrorTextsFollowBothStringIdRules) {
  static const struct {
    int code;
    int id;
    const char* text;
  } kCases[] = {
      {errBusy, 11874, "Called fax number was busy"},
      {101, 11901, "Disk is full"},
      {2, 11002, "File not found"},
      {errPastEnd, 11900, "Attempt to read beyond end of file"},
      {errShortWrite, 11960, "Device write error"},
      {errCancel, 11605, "Cancel requested"},
      {errNoTriggers, 11501, "No more trigger slots"},
      {errPortNotAssigned, 11105, "ComPort component not assigned"},
      {errOutputBufferTooSmall, 11306, "Output buffer too small for block"},
      {errNotApf, 11801, "File is not an APF file"},
      {errMixedRes, 11882, "Multiple resolutions per session not supported"},
      {errNoMemory, 11008, "Insufficient memory"},
      {-8081, 11881, ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ErrorStringId(c.code), c.id) << c.code;
    EXPECT_EQ(ErrorText(c.code), c.text) << c.code;
  }
}

TEST(FaxTexts, StartExceptionsCarryTheirCodeAndText) {
  EPortNotAssigned e;
  EXPECT_EQ(e.Code(), -1005);
  EXPECT_STREQ(e.what(), "ComPort component not assigned");
  TSendFax fax;
  EXPECT_THROW(fax.StartTransmission(), EPortNotAssigned);
}

TEST(FaxHistory, EntriesHaveTheirFixedShape) {
  FaxLogFacts f;
  f.faxFile = "A.APF";
  f.phoneNumber = "555";
  f.remoteId = "REMOTE";
  f.dateTime = "12/11/26 13:00:00";
  f.hangupCode = 0;
  f.lastError = errBusy;
  EXPECT_EQ(FormatLogEntry(lcTransmitStart, f), "Transmit A.APF to 555 started at 12/11/26 13:00:00\r\n");
  EXPECT_EQ(FormatLogEntry(lcTransmitOk, f), "Transmit to REMOTE finished OK at 12/11/26 13:00:00 0\r\n\r\n");
  EXPECT_EQ(FormatLogEntry(lcTransmitFail, f),
            "Transmit failed at 12/11/26 13:00:00\r\n  (Called fax number was busy) 0\r\n\r\n");
  EXPECT_EQ(FormatLogEntry(lcReceiveFail, f),
            "Receive failed at 12/11/26 13:00:00\r\n  (Called fax number was busy)\r\n\r\n");
}

TEST(FaxHistory, EmptyNameTouchesNoFileAndSendLogIgnoresReceiveCodes) {
  TSendFax fax;
  TFaxLog log;
  fax.SetFaxLog(&log);
  const std::string path = ::testing::TempDir() + "vln-hist.his";
  std::remove(path.c_str());
  log.FaxHistoryName = "";
  log.WriteLogEntry(lcTransmitStart);
  log.FaxHistoryName = path;
  log.WriteLogEntry(lcReceiveOk);  // a send component logs transmit codes only
  EXPECT_NE(std::fopen(path.c_str(), "rb") != nullptr, true);
  log.WriteLogEntry(lcTransmitStart);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  std::remove(path.c_str());
}

TEST(FaxHistory, ALogDestroyedFirstLeavesNoDanglingLink) {
  TSendFax fax;
  {
    TFaxLog log;
    fax.SetFaxLog(&log);
    EXPECT_EQ(fax.FaxLog(), &log);
  }
  EXPECT_EQ(fax.FaxLog(), nullptr);
}

}  // namespace
}  // namespace veltrane::faxengine
