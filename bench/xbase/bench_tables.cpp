// 100,000-record tables of the sent-fax layout with its descending date+time
// tag: appends with the index kept up to date, opening and reading the first
// 50 rows in tag order, and pack + index rebuild.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/xbase/table.h"

namespace {

using veltrane::xbase::Date;
using veltrane::xbase::FieldDef;
using veltrane::xbase::OpenOptions;
using veltrane::xbase::SyncMode;
using veltrane::xbase::Table;
using veltrane::xbase::TagSpec;

constexpr int kRecords = 100000;

const std::vector<FieldDef> kFields = {
    {"SUBJECT", 'C', 50, 0},    {"SENT", 'L', 1, 0},      {"DATESENT", 'D', 8, 0},
    {"TIMESENT", 'C', 5, 0},    {"RECIPIENT", 'C', 35, 0}, {"PHONE", 'C', 25, 0},
    {"PAGES", 'N', 2, 0},       {"LASTRESULT", 'C', 100, 0}, {"RTFCOVER", 'M', 10, 0},
    {"RTFDOC", 'M', 10, 0}};
const TagSpec kTag = {"DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true, false};

std::string Folder() {
  static std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "xbase-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    static const std::string made = pattern;  // outlives the exit handler below
    std::atexit([] { std::filesystem::remove_all(made); });
    return pattern;
  }();
  return dir;
}

void Remove(const std::string& path) {
  for (const char* ext : {".DBF", ".FPT", ".CDX"}) std::remove((path + ext).c_str());
}

// Appends kRecords records in date order with scattered times, so that the
// descending tag gets both in-order and out-of-order inserts.
void Fill(Table& t) {
  for (int i = 0; i < kRecords; ++i) {
    t.Append();
    t.SetText("SUBJECT", "Subject " + std::to_string(i));
    t.SetDate("DATESENT", Date{2020 + i / 40000, 1 + (i / 3000) % 12, 1 + (i / 100) % 28});
    char time[8];
    std::snprintf(time, sizeof time, "%02d:%02d", (i * 7) % 24, (i * 13) % 60);
    t.SetText("TIMESENT", time);
    t.SetText("RECIPIENT", "Recipient " + std::to_string(i % 977));
    t.SetInteger("PAGES", i % 100);
    if (i % 10 == 0) t.WriteMemo("RTFDOC", "{\\rtf1 short memo " + std::to_string(i) + "}");
    t.Post();
  }
}

void Appends(benchmark::State& state, SyncMode sync) {
  const std::string base = Folder() + "/APPEND";
  for (auto _ : state) {
    state.PauseTiming();
    Remove(base);
    Table::Create(base + ".DBF", kFields);
    Table t;
    t.Open(base + ".DBF", OpenOptions{{kTag}, sync});
    state.ResumeTiming();
    Fill(t);
    t.Close();
  }
  state.counters["records"] = kRecords;
}

void BM_Append100kIndexed(benchmark::State& state) { Appends(state, SyncMode::kOnClose); }
BENCHMARK(BM_Append100kIndexed)->Unit(benchmark::kMillisecond)->Iterations(3);

// The program's default: every post flushed to the disk before it returns.
void BM_DurablePost(benchmark::State& state) {
  const std::string base = Folder() + "/DURABLE";
  Remove(base);
  Table::Create(base + ".DBF", kFields);
  Table t;
  t.Open(base + ".DBF", OpenOptions{{kTag}, SyncMode::kEveryOperation});
  int i = 0;
  for (auto _ : state) {
    t.Append();
    t.SetText("SUBJECT", "Subject " + std::to_string(++i));
    t.SetText("TIMESENT", "12:00");
    t.WriteMemo("RTFDOC", "{\\rtf1 memo}");
    t.Post();
  }
}
BENCHMARK(BM_DurablePost)->Unit(benchmark::kMillisecond)->Iterations(100);

// Builds the shared 100,000-record table once.
std::string BigTable() {
  static std::string path = [] {
    const std::string base = Folder() + "/BIG";
    Remove(base);
    Table::Create(base + ".DBF", kFields);
    Table t;
    t.Open(base + ".DBF", OpenOptions{{kTag}, SyncMode::kOnClose});
    Fill(t);
    t.Close();
    return base + ".DBF";
  }();
  return path;
}

void BM_OpenAndRead50InTagOrder(benchmark::State& state) {
  const std::string path = BigTable();
  for (auto _ : state) {
    Table t;
    t.Open(path, OpenOptions{{kTag}, SyncMode::kOnClose});
    t.SetOrder("DATESENT");
    t.SetFilter(".not. deleted()");
    t.First();
    size_t bytes = 0;
    for (int row = 0; row < 50 && !t.Eof(); ++row) {
      bytes += t.GetText("SUBJECT").value().size() + t.GetText("RECIPIENT").value().size();
      t.Next();
    }
    benchmark::DoNotOptimize(bytes);
    if (t.IndexWasRebuiltOnOpen()) state.SkipWithError("index was rebuilt");
  }
}
BENCHMARK(BM_OpenAndRead50InTagOrder)->Unit(benchmark::kMillisecond);

void BM_PackAndRebuild100k(benchmark::State& state) {
  const std::string big = BigTable();
  const std::string base = Folder() + "/PACK";
  for (auto _ : state) {
    state.PauseTiming();
    Remove(base);
    for (const char* ext : {".DBF", ".FPT", ".CDX"}) {
      std::filesystem::copy_file(big.substr(0, big.size() - 4) + ext, base + ext);
    }
    Table t;
    t.Open(base + ".DBF", OpenOptions{{kTag}, SyncMode::kOnClose});
    for (uint32_t r = 1; r <= t.PhysicalCount(); r += 10) {  // one record in ten goes
      t.Go(r);
      t.Delete();
    }
    state.ResumeTiming();
    t.Pack();
    state.PauseTiming();
    t.Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PackAndRebuild100k)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
