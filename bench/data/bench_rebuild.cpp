// "Rebuild Indexes" over a sent-fax log of 100,000 records, a tenth of them
// marked as deleted: the pack and the index build of all four tables.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "data/rebuild.h"
#include "data/tables.h"

namespace fs = std::filesystem;
using namespace veltrane::data;

namespace {

constexpr int kRecords = 100000;

struct RemovedAtExit {
  fs::path path;
  ~RemovedAtExit() { fs::remove_all(path); }
};

// Builds the sample log once; every run starts from a copy of it.
const fs::path& templateFolder() {
  static const RemovedAtExit folder{[] {
    const fs::path dir = fs::temp_directory_path() / ("vln-bench-rebuild-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Filling the sample need not survive a power cut: sync on close only.
    const TableSchema& schema = SchemaOf(FaxTable::Sent);
    veltrane::xbase::Table sent;
    veltrane::xbase::OpenOptions options;
    options.index_tags = {schema.tag};
    options.sync = veltrane::xbase::SyncMode::kOnClose;
    if (!MakeFaxDBF(dir.string() + "/") || !sent.Open((dir / schema.fileName).string(), options).ok() ||
        !sent.CreateTag(schema.tag).ok())
      std::abort();
    for (int i = 0; i < kRecords; ++i) {
      sent.Append();
      sent.SetText("SUBJECT", "Invoice " + std::to_string(i));
      sent.SetDate("DATESENT", {2000 + i % 25, 1 + i % 12, 1 + i % 28});
      sent.SetText("TIMESENT", std::to_string(10 + i % 14) + ":" + std::to_string(10 + i % 50));
      sent.SetText("RECIPIENT", "Customer " + std::to_string(i % 997));
      sent.Post();
    }
    int marked = 0;
    for (auto st = sent.First(); st.ok() && sent.HasCurrent() && marked < kRecords / 10; ++marked) {
      sent.Delete();  // moves on to the next record
      for (int skip = 0; skip < 8; ++skip) sent.Next();
    }
    sent.Close();
    return dir;
  }()};
  return folder.path;
}

void BM_RebuildIndexes(benchmark::State& state) {
  const fs::path work = templateFolder().string() + "-run";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    fs::copy(templateFolder(), work);
    veltrane::xbase::Table sent, received, phone, cover;
    const std::string folder = work.string() + "/";
    if (!OpenFaxDBF(sent, folder) || !OpenRecFaxDBF(received, folder)) state.SkipWithError("open failed");
    state.ResumeTiming();
    const auto st = RebuildIndexes(sent, received, phone, cover, {}, folder);
    if (!st.ok()) state.SkipWithError(st.message().c_str());
    state.PauseTiming();
    state.counters["records_left"] = sent.PhysicalCount();
    sent.Close();
    received.Close();
    state.ResumeTiming();
  }
  fs::remove_all(work);
}
BENCHMARK(BM_RebuildIndexes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
