// A deep, read-only check of one of the four tables: does it open, does its
// index match it, are its fields and tag the program's, and can every field
// and memo of every record be read?
#pragma once

#include <string>
#include <vector>

#include "data/tables.h"

namespace veltrane::data {

struct TableCheckReport {
  bool present = false;               // the table file exists
  std::vector<std::string> problems;  // one line each; empty = sound
  uint32_t records = 0;               // physical records, when the table opened
};

// Works on a copy of the table's files in a scratch folder, so opening it
// (which may finish an interrupted pack or rebuild an index) changes nothing
// in the data folder. At most `maxRecordProblems` unreadable records are
// listed.
TableCheckReport CheckTable(FaxTable table, const std::string& dataFolder, std::size_t maxRecordProblems = 10);

}  // namespace veltrane::data
