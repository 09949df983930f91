// Arbitrary bytes into the RTF reader: no crash, no hang, bounded memory.
// Whatever it reads, writing and reading again must settle at once: the
// writer's output read back and written again is the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/richtext/rtf_reader.h"
#include "platform/richtext/rtf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace veltrane::richtext;
  RtfReadLimits limits;
  limits.maxTextChars = 1u << 20;
  RtfDocument doc;
  std::string why;
  int rc = ReadRtf(std::string_view(reinterpret_cast<const char*>(data), size), doc, &why, limits);
  if (rc < 0) {
    if (why.empty() || !doc.paragraphs.empty()) std::abort();  // errors say why and leave nothing
    return 0;
  }
  if (doc.paragraphs.empty()) std::abort();
  std::string once = WriteRtf(doc);
  RtfDocument again;
  if (ReadRtf(once, again, nullptr, limits) != kRtfOk) std::abort();
  if (again.paragraphs.size() != doc.paragraphs.size()) std::abort();
  if (WriteRtf(again) != once) std::abort();
  return 0;
}
