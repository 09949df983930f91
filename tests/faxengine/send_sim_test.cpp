// The engine against the simulator's virtual modems and remote fax machine,
// in every class: the pages the remote stores decode to the raster lines we
// sent, below the blank lines and header that start each page.
#include <gtest/gtest.h>

#include <cstring>

#include "faxengine/support/send_harness.h"
#include "faxengine/support/sim_modem_transport.h"
#include "imaging/converter_state.h"
#include "imaging/fax_font.h"
#include "imaging/t4_decode.h"
#include "imaging/t4_encode.h"

namespace veltrane::faxengine::test {
namespace {

using Rows = std::vector<std::vector<uint8_t>>;

class RowCollector : public imaging::T4LineReceiver {
 public:
  bool Line(const uint8_t* line, int n) override {
    rows.emplace_back(line, line + n);
    return true;
  }
  Rows rows;
};

Rows Decode(const std::vector<uint8_t>& data) {
  RowCollector c;
  imaging::T4Walker walker(c);
  walker.StartPage();
  walker.Walk(data);
  return c.rows;
}

Rows DecodeSpec(const PageSpec& page) {
  std::vector<uint8_t> all;
  for (const auto& l : page.lines) all.insert(all.end(), l.begin(), l.end());
  // The end-of-page EOLs close the last line, as the APF writer's end record does.
  all.insert(all.end(), imaging::kApfEndOfPageRecord.begin() + 2, imaging::kApfEndOfPageRecord.end());
  return Decode(all);
}

struct SimCase {
  TFaxClass cls;
  bool fine;
  int bps;
};

class SendToSimulator : public ::testing::TestWithParam<SimCase> {};

TEST_P(SendToSimulator, RemoteStoresExactlyTheRowsWeSent) {
  const SimCase c = GetParam();
  const std::string file = TempPath("sim.apf");
  const std::vector<PageSpec> pages = {TextPage(1, c.fine), TextPage(2, c.fine)};
  WriteApf(file, pages);
  const std::string cover = TempPath("sim-cover.txt");
  { std::FILE* f = std::fopen(cover.c_str(), "w"); std::fputs("Cover for $R\n", f); std::fclose(f); }

  SendHarness h({});
  // Replace the scripted modem of the harness by the simulator's.
  h.Port().close();
  modemsim::RemoteFaxOptions remoteOptions;
  remoteOptions.receiveDir = ::testing::TempDir();
  SimSetup sim(h.clock, {}, remoteOptions);
  ASSERT_EQ(h.Port().openTransport(std::move(sim.transport)), 0);
  h.fax.SetComPort(&h.Port());
  std::vector<std::string> trace;
  h.fax.SendEngine()->SetTraceHook([&](const std::string& l) { if (trace.size() < 4000) trace.push_back(l); });
  h.fax.FaxClass = c.cls;
  h.fax.PhoneNumber = "555";
  h.fax.FaxFile = file;
  h.fax.CoverFile = cover;
  h.fax.HeaderLine = "$I Page $P of $N";
  h.fax.StationID = "veltrane";
  h.fax.DesiredBPS = c.bps;
  h.Run(20 * 60 * 1000);
  ASSERT_EQ(h.Record().finishCount, 1);
  std::string lines;
  for (const auto& l : trace) lines += l + "\n";
  EXPECT_EQ(h.Record().finishCode, 0) << lines;
  EXPECT_TRUE(h.Record().errors.empty());
  ASSERT_EQ(sim.remote->calls().size(), 1u);
  EXPECT_EQ(sim.remote->calls()[0].pages, 3);
  EXPECT_EQ(sim.remote->calls()[0].fine, c.fine);
  EXPECT_EQ(sim.modem->stats().underruns, 0);
  const auto& received = sim.remote->receivedPages();
  ASSERT_EQ(received.size(), 3u);
  for (int p = 0; p < 2; ++p) {
    const Rows sent = DecodeSpec(pages[p]);
    const Rows got = Decode(received[p + 1]);
    ASSERT_EQ(sent.size(), 6u * (c.fine ? 32 : 16));
    // 8 blank lines and the header line (8 rows of the small font, doubled when fine) come first.
    ASSERT_EQ(got.size(), sent.size() + 8 + (c.fine ? 16 : 8));
    const Rows tail(got.end() - static_cast<long>(sent.size()), got.end());
    EXPECT_TRUE(tail == sent) << "page " << p + 1 << ": " << got.size() << " rows received, " << sent.size()
                              << " sent";
  }
  std::remove(file.c_str());
  std::remove(cover.c_str());
}

INSTANTIATE_TEST_SUITE_P(AllClasses, SendToSimulator,
                         ::testing::Values(SimCase{fcClass1, false, 14400}, SimCase{fcClass1, true, 9600},
                                           SimCase{fcClass2, false, 9600}, SimCase{fcClass2, true, 14400},
                                           SimCase{fcClass2_0, false, 4800}, SimCase{fcClass2_0, true, 14400}));

}  // namespace
}  // namespace veltrane::faxengine::test
