// The option strings of "veltrane-fax sim": what each one sets, and the
// mistakes that must be refused with a message rather than half-applied.
#include <gtest/gtest.h>

#include "modemsim/pty_runner.h"

namespace veltrane::modemsim {
namespace {

TEST(SimOptions, ModemSpecs) {
  PtyModemConfig m;
  std::string error;
  ASSERT_TRUE(parseModemSpec("/tmp/vm=555-1000,fclass=0/1/2.0,ftm=24/96,slow=250,echo,error=+FDT,name=A", m, error))
      << error;
  EXPECT_EQ(m.path, "/tmp/vm");
  EXPECT_EQ(m.number, "5551000");
  EXPECT_EQ(m.options.fclassAnswer, "0,1,2.0");
  EXPECT_EQ(m.options.ftmList, "24,96");
  EXPECT_EQ(m.options.responseDelay, 250 * kMs);
  EXPECT_TRUE(m.options.echoAlways);
  EXPECT_EQ(m.options.errorOn, "+FDT");
  EXPECT_EQ(m.label, "A");
  for (const char* bad : {"/tmp/vm", "=5551000", "/tmp/vm=abc", "/tmp/vm=5551000,bogus", "/tmp/vm=1,slow=x"}) {
    PtyModemConfig ignored;
    EXPECT_FALSE(parseModemSpec(bad, ignored, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptions, RemoteSpecs) {
  RemoteConfig r;
  std::string error;
  ASSERT_TRUE(parseRemoteSpec("5552000:receive=/tmp/in,maxrate=9600,nofine,answer=rtp,fail-train-above=7200,"
                              "dcn-after=2,rings=3,id=REMOTE",
                              r, error))
      << error;
  EXPECT_EQ(r.number, "5552000");
  EXPECT_EQ(r.options.receiveDir, "/tmp/in");
  EXPECT_EQ(r.options.t30.maxBps, 9600);
  EXPECT_FALSE(r.options.t30.fine);
  EXPECT_EQ(r.options.t30.pageAnswer, fcf::RTP);
  EXPECT_EQ(r.options.t30.failTrainAbove, 7200);
  EXPECT_EQ(r.options.t30.dcnAfterPages, 2);
  EXPECT_EQ(r.options.answerOnRing, 3);
  EXPECT_EQ(r.options.t30.stationId, "REMOTE");
  RemoteConfig sender;
  ASSERT_TRUE(parseRemoteSpec("5553000:send=/tmp/a.apf,call=5551000,after=5,drop-page=2", sender, error));
  EXPECT_EQ(sender.options.callAfter, 5 * kSecond);
  EXPECT_EQ(sender.options.dropCarrierOnPage, 2);
  for (const char* bad : {":receive=/tmp", "5552000:send=/tmp/a.apf", "5552000:answer=ok", "5552000:wat"}) {
    RemoteConfig ignored;
    EXPECT_FALSE(parseRemoteSpec(bad, ignored, error)) << bad;
  }
}

}  // namespace
}  // namespace veltrane::modemsim
