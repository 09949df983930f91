// The PCX input reader through a whole conversion, on arbitrary bytes. The
// last byte picks the options, so geometry rules are exercised too.
#include "fuzz_convert_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t options = size > 0 ? data[size - 1] : 0;
  veltrane::imaging::fuzz::ConvertBytes(data, size, veltrane::imaging::TFaxInputDocumentType::idPcx, ".pcx", options);
  return 0;
}
