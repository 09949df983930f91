// The work of "Rebuild Indexes": remove the records marked as deleted from
// all four tables for good and build each table's index file anew, reporting
// each step's text and the percentage done.
#pragma once

#include <functional>
#include <string>

#include "data/tables.h"
#include "platform/xbase/status.h"

namespace veltrane::data {

struct RebuildStepTexts {
  const char* beforePacking;
  const char* beforeIndexing;
};

// The tables in the order they are processed, with their step texts.
struct RebuildTableStep {
  FaxTable table;
  RebuildStepTexts texts;
};
const std::array<RebuildTableStep, 4>& RebuildOrder();

struct RebuildCallbacks {
  // The activity text: a step text, or "" when it is cleared between tables.
  std::function<void(const std::string& text)> onStep;
  // Percentage done of the running pack or index build, clamped to 0..100;
  // 0 at the start of each step. The receiver may let pending window events
  // run here.
  std::function<void(int percent)> onProgress;
};

// The open sent-fax and received-fax tables are packed and re-indexed and
// stay open on their rebuilt tag. The phone-book and cover-template tables are
// opened on the given table objects (created when missing; skipped silently
// when they cannot be opened) and closed again afterwards.
// The first engine error ends the work and is returned; tables already done
// stay done.
xbase::Status RebuildIndexes(xbase::Table& sent, xbase::Table& received, xbase::Table& phone,
                             xbase::Table& cover, const RebuildCallbacks& callbacks,
                             const std::string& dataFolder = DataFolder());

}  // namespace veltrane::data
