// Randomized model test: thousands of appends, key-changing edits, delete
// marks, recalls, packs and reopens, each followed by a comparison of the
// engine's view with a plain sorted list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "platform/xbase/support/xbase_test_util.h"
#include "platform/xbase/table.h"

namespace veltrane::xbase {
namespace {

using testing::ScratchDir;
using testing::ViewOrder;

struct ModelRecord {
  std::string key;  // the tag's key bytes
  std::string a, b; // field values that make it
  bool deleted = false;
};

// One table layout with its tag, and how to fill it from random choices.
struct Flavor {
  const char* name;
  std::vector<FieldDef> fields;
  TagSpec tag;
  // Sets the record's fields in the table's edit buffer and the model.
  void (*fill)(std::mt19937& rng, Table& t, ModelRecord& m);
};

void FillName(std::mt19937& rng, Table& t, ModelRecord& m) {
  static const char* kWords[] = {"BAKER", "BARNES", "SMITH", "SMYTHE", "ZETA", "ACME", "A", ""};
  std::string name = kWords[rng() % 8];
  if (rng() % 3 == 0) name += " " + std::to_string(rng() % 50);
  if (rng() % 5 == 0) name += std::string(20, char('A' + rng() % 26));  // long, hard to compress
  name.resize(std::min<size_t>(name.size(), 35));
  m.a = name;
  m.key = name + std::string(35 - name.size(), ' ');
  ASSERT_TRUE(t.SetText("NAME", name).ok());
  ASSERT_TRUE(t.SetText("PHONE", "555").ok());
}

void FillDateTime(std::mt19937& rng, Table& t, ModelRecord& m) {
  char date[16] = "";
  if (rng() % 4 != 0) {
    std::snprintf(date, sizeof date, "%04d%02d%02d", 2020 + int(rng() % 3), 1 + int(rng() % 12),
                  1 + int(rng() % 28));
  }
  char time[8] = "";
  if (rng() % 5 != 0) std::snprintf(time, sizeof time, "%02d:%02d", int(rng() % 24), int(rng() % 4) * 15);
  m.a = date;
  m.b = time;
  m.key = (m.a.empty() ? std::string(8, ' ') : m.a) + m.b + std::string(5 - m.b.size(), ' ');
  ASSERT_TRUE(t.SetText("DATESENT", date).ok());
  ASSERT_TRUE(t.SetText("TIMESENT", time).ok());
}

const Flavor kFlavors[] = {
    {"AscendingName", testing::PhoneFields(), testing::PhoneTag(), FillName},
    {"DescendingDateTime", testing::LogFields(), testing::LogTag(), FillDateTime},
};

class ModelTest : public ::testing::TestWithParam<size_t> {
 protected:
  const Flavor& flavor() const { return kFlavors[GetParam()]; }

  // The model's live records in tag order: a plain sorted set of (key, record).
  std::vector<uint32_t> ExpectedOrder() const {
    std::vector<uint32_t> order;
    for (const auto& [key, r] : sorted_) order.push_back(r);
    if (flavor().tag.descending) std::reverse(order.begin(), order.end());
    return order;
  }

  void Index(uint32_t r) { sorted_.emplace(model_[r - 1].key, r); }
  void Unindex(uint32_t r) { sorted_.erase({model_[r - 1].key, r}); }
  void Reindex() {
    sorted_.clear();
    for (uint32_t r = 1; r <= model_.size(); ++r) {
      if (!model_[r - 1].deleted) Index(r);
    }
  }

  void Compare(Table& t, const std::string& step) {
    SCOPED_TRACE(step);
    ASSERT_EQ(t.PhysicalCount(), model_.size());
    const std::vector<uint32_t> want = ExpectedOrder();
    ASSERT_EQ(t.FilteredCount(), want.size());
    const uint32_t keep = t.RecNo();
    ASSERT_EQ(ViewOrder(t), want);
    if (keep <= t.PhysicalCount()) ASSERT_TRUE(t.Go(keep).ok());
  }

  uint32_t PickLive(std::mt19937& rng) const {
    std::vector<uint32_t> live;
    for (uint32_t r = 1; r <= model_.size(); ++r) {
      if (!model_[r - 1].deleted) live.push_back(r);
    }
    return live.empty() ? 0 : live[rng() % live.size()];
  }

  void Open(Table& t) {
    ASSERT_TRUE(t.Open(path_, {{flavor().tag}, SyncMode::kNever}).ok());
    ASSERT_TRUE(t.SetOrder(flavor().tag.name).ok());
    ASSERT_TRUE(t.SetFilter(".not. deleted()").ok());
  }

  ScratchDir dir_;
  std::string path_ = dir_ / "MODEL.DBF";
  std::vector<ModelRecord> model_;
  std::set<std::pair<std::string, uint32_t>> sorted_;
};

TEST_P(ModelTest, AgreesWithASortedListAfterEveryStep) {
  std::mt19937 rng(20261211 + unsigned(GetParam()));
  ASSERT_TRUE(Table::Create(path_, flavor().fields).ok());
  Table t;
  Open(t);
  ASSERT_TRUE(t.IndexWasRebuiltOnOpen());  // no index yet: made from the tag given
  for (int step = 0; step < 4000; ++step) {
    const unsigned dice = rng() % 100;
    std::string what;
    if (dice < 45 || model_.size() < 20) {
      what = "append";
      ModelRecord m;
      ASSERT_TRUE(t.Append().ok());
      flavor().fill(rng, t, m);
      ASSERT_EQ(t.RecNo(), t.PhysicalCount() + 1) << "no current record while appending";
      ASSERT_TRUE(t.Post().ok());
      model_.push_back(m);
      Index(uint32_t(model_.size()));
      ASSERT_EQ(t.RecNo(), model_.size()) << "the new record becomes current";
    } else if (dice < 70) {
      what = "edit";
      const uint32_t r = PickLive(rng);
      if (r == 0) continue;
      ASSERT_TRUE(t.Go(r).ok());
      ASSERT_TRUE(t.Edit().ok());
      Unindex(r);
      flavor().fill(rng, t, model_[r - 1]);
      Index(r);
      ASSERT_TRUE(t.Post().ok());
      ASSERT_EQ(t.RecNo(), r);
    } else if (dice < 90) {
      what = "delete";
      const uint32_t r = PickLive(rng);
      if (r == 0) continue;
      ASSERT_TRUE(t.Go(r).ok());
      const std::vector<uint32_t> before = ExpectedOrder();
      const size_t at = size_t(std::find(before.begin(), before.end(), r) - before.begin());
      const uint32_t next = at + 1 < before.size() ? before[at + 1] : at > 0 ? before[at - 1] : 0;
      ASSERT_TRUE(t.Delete().ok());
      model_[r - 1].deleted = true;
      Unindex(r);
      ASSERT_EQ(t.RecNo(), next == 0 ? t.PhysicalCount() + 1 : next) << "the view moves on";
    } else if (dice < 94) {
      what = "recall";
      ASSERT_TRUE(t.SetFilter("").ok());
      uint32_t r = 1 + uint32_t(rng() % model_.size());
      if (model_[r - 1].deleted) {
        // A deleted record is in no tag: reach it in natural order without the filter.
        ASSERT_FALSE(t.Go(r).ok());
        ASSERT_TRUE(t.SetOrder(0).ok());
        ASSERT_TRUE(t.Go(r).ok());
        ASSERT_TRUE(t.Recall().ok());
        model_[r - 1].deleted = false;
        Index(r);
      }
      ASSERT_TRUE(t.SetOrder(flavor().tag.name).ok());
      ASSERT_TRUE(t.SetFilter(".not. deleted()").ok());
    } else if (dice < 95) {
      what = "pack";
      ASSERT_TRUE(t.Pack().ok());
      std::erase_if(model_, [](const ModelRecord& m) { return m.deleted; });
      Reindex();
    } else if (dice < 99) {
      what = "reopen";
      ASSERT_TRUE(t.Close().ok());
      Open(t);
      ASSERT_FALSE(t.IndexWasRebuiltOnOpen()) << "the index we kept up to date must pass the check";
    } else {
      what = "reopen without index";
      ASSERT_TRUE(t.Close().ok());
      std::remove((dir_ / "MODEL.CDX").c_str());
      Open(t);
      ASSERT_TRUE(t.IndexWasRebuiltOnOpen());
    }
    Compare(t, "step " + std::to_string(step) + ": " + what);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Tags, ModelTest, ::testing::Range<size_t>(0, std::size(kFlavors)),
                         [](const auto& info) { return std::string(kFlavors[info.param].name); });

}  // namespace
}  // namespace veltrane::xbase
