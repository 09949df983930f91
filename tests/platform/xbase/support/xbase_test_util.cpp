#include "platform/xbase/support/xbase_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace veltrane::xbase::testing {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "xbase-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void CopyFile(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

std::string SamplesDir() { return std::string(VELTRANE_SHARED_DIR) + "/formats/samples"; }

std::vector<FieldDef> PhoneFields() { return {{"NAME", 'C', 35, 0}, {"PHONE", 'C', 25, 0}}; }

TagSpec PhoneTag() { return {"NAME", "NAME", ".not. deleted()", false, false}; }

std::vector<FieldDef> LogFields() {
  return {{"SUBJECT", 'C', 50, 0},  {"SENT", 'L', 1, 0},   {"DATESENT", 'D', 8, 0},
          {"TIMESENT", 'C', 5, 0},  {"PAGES", 'N', 2, 0},  {"RTFCOVER", 'M', 10, 0},
          {"RTFDOC", 'M', 10, 0}};
}

TagSpec LogTag() { return {"DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true, false}; }

std::vector<uint32_t> ViewOrder(Table& table) {
  std::vector<uint32_t> order;
  table.First();
  while (table.HasCurrent() && !table.Eof()) {
    order.push_back(table.RecNo());
    table.Next();
    if (order.size() > table.PhysicalCount()) break;  // a broken walk must not loop forever
  }
  return order;
}

}  // namespace veltrane::xbase::testing
