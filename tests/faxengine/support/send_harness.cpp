#include "faxengine/support/send_harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "imaging/apf.h"
#include "imaging/converter_state.h"
#include "imaging/fax_font.h"
#include "imaging/t4_encode.h"

namespace veltrane::faxengine::test {

void WriteApf(const std::string& path, const std::vector<PageSpec>& pages) {
  imaging::ApfWriter w;
  ASSERT_EQ(w.Open(path), 0) << path;
  for (const auto& p : pages) {
    w.SetPageFlags((p.fine ? imaging::pfHighRes : 0) | (p.wide ? imaging::pfWide : 0));
    for (const auto& line : p.lines) ASSERT_EQ(w.WriteLine(line.data(), line.size()), 0);
    ASSERT_EQ(w.EndPage(), 0);
  }
  ASSERT_EQ(w.Finish("TEST"), 0);
}

PageSpec SimplePage(int n, bool fine) {
  PageSpec p;
  p.fine = fine;
  for (int i = 0; i < n; ++i) p.lines.push_back({0x00, 0x80, static_cast<uint8_t>(i), 0x10, 0x55});
  return p;
}

PageSpec TextPage(int page, bool fine) {
  imaging::FaxFont font;
  EXPECT_EQ(imaging::LoadFaxFont(font, "FAXFONT.FNT", imaging::ffStandard, fine), 0);
  auto cs = std::make_unique<imaging::ConverterState>();
  PageSpec spec;
  spec.fine = fine;
  for (int line = 0; line < 6; ++line) {
    const std::string text = "Page " + std::to_string(page) + " line " + std::to_string(line) + " \x10\x10 ABC";
    for (int row = 1; row <= font.rows; ++row) {
      std::fill(cs->raster.begin(), cs->raster.end(), 0);
      imaging::RasterizeTextRow(font, text, row, std::span<uint8_t>(cs->raster.data(), 216));
      imaging::EncodeRasterLine(*cs, cs->raster.data());
      spec.lines.emplace_back(cs->codedLine.begin(), cs->codedLine.begin() + cs->byteOffset);
    }
  }
  return spec;
}

std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/vlnfe-" + std::to_string(::getpid()) + "-" + name;
}

SendHarness::SendHarness(std::vector<Step> script, bool byteByByte)
    : dispatcher_(std::make_unique<serial::Dispatcher>(clock)),
      port_(std::make_unique<serial::ComPort>(*dispatcher_)) {
  auto modem = std::make_unique<ScriptedModem>(clock, std::move(script), byteByByte);
  modem_ = modem.get();
  EXPECT_EQ(port_->openTransport(std::move(modem)), 0);
  fax.SetComPort(port_.get());
  fax.OnFaxError = [this](TCustomAbstractFax&, int code) { record_.errors.push_back(code); };
  fax.OnFaxLog = [this](TCustomAbstractFax&, TFaxLogCode code) { record_.logs.push_back(code); };
  fax.OnFaxStatus = [this](TCustomAbstractFax& cp, bool first, bool last) {
    record_.statusCodes.push_back(cp.StatusCode());
    record_.firstEvents += first;
    record_.lastEvents += last;
  };
  fax.OnFaxFinish = [this](TCustomAbstractFax&, int code) {
    ++record_.finishCount;
    record_.finishCode = code;
    record_.finishedAtMs = clock.nowMs();
  };
  fax.SendEngine()->SetTraceHook([this](const std::string& line) { engineTrace_.push_back(line); });
}

SendHarness::~SendHarness() {
  port_->close();
}

void SendHarness::Run(int64_t limitMs) {
  fax.StartTransmission();
  dispatcher_->runUntil([this] { return record_.finishCount > 0; }, limitMs);
}

void ExpectGolden(const std::string& name, const std::string& transcript) {
  const std::string path = std::string(VELTRANE_TEST_DATA) + "/faxengine/" + name + ".txt";
  if (std::getenv("VELTRANE_UPDATE_GOLDEN")) {
    std::ofstream(path, std::ios::binary) << transcript;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in.good()) << "missing golden transcript " << path;
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), transcript) << "transcript differs from " << path;
}

}  // namespace veltrane::faxengine::test

namespace veltrane::faxengine::test {

void SendHarness::StartUntil(const std::function<bool()>& until, int64_t limitMs) {
  fax.StartTransmission();
  dispatcher_->runUntil([&] { return record_.finishCount > 0 || until(); }, limitMs);
}

void SendHarness::Finish(int64_t limitMs) {
  dispatcher_->runUntil([this] { return record_.finishCount > 0; }, limitMs);
}

bool SendHarness::TraceHas(const std::string& text) const {
  for (const auto& line : engineTrace_)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace veltrane::faxengine::test
