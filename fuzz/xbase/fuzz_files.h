#pragma once
// Scratch files for the table fuzzers: the engine works on files, so each
// input is written to a private folder before it is opened.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/xbase/table.h"

namespace veltrane::xbase::fuzz {

std::string ScratchPath(const std::string& name);  // in a folder made once per process
void WriteFile(const std::string& path, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadFile(const std::string& path);
void RemoveTableFiles(const std::string& base);  // base.DBF/.FPT/.CDX and leftovers
// Visits every record of the open table in its active order and reads every field.
void WalkTable(Table& table);

}  // namespace veltrane::xbase::fuzz
