#pragma once
// Helpers shared by the table engine tests: scratch folders, file bytes, and
// the four table layouts the program uses.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/xbase/table.h"

namespace veltrane::xbase::testing {

// A fresh folder under the system temp dir, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void CopyFile(const std::string& from, const std::string& to);
std::string SamplesDir();  // the sample tables written by another engine

// The phone-book and sent-fax layouts, as test fixtures.
std::vector<FieldDef> PhoneFields();
TagSpec PhoneTag();
std::vector<FieldDef> LogFields();  // a memo table with a date+time descending tag
TagSpec LogTag();

// Record numbers of the view from First() to the end.
std::vector<uint32_t> ViewOrder(Table& table);

}  // namespace veltrane::xbase::testing
