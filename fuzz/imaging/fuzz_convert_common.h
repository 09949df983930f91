// Shared by the converter fuzz targets: the bytes become the input file of one
// conversion; whatever happens, only the converter's own exceptions may leave
// it and no output file may remain after a failure.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "imaging/fax_converter.h"

namespace veltrane::imaging::fuzz {

inline void ConvertBytes(const std::uint8_t* data, std::size_t size, TFaxInputDocumentType kind, const char* ext,
                         std::uint8_t options) {
  const std::string base = "/tmp/fuzz-cvt-" + std::to_string(::getpid());
  const std::string in = base + ext, out = base + ".APF";
  FILE* f = std::fopen(in.c_str(), "wb");
  if (!f) return;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TFaxConverter cvt;
  cvt.SetInputDocumentType(kind);
  cvt.SetOptions(TFaxCvtOptionsSet::FromByte(static_cast<std::uint8_t>(options & 0x1F)));
  cvt.SetResolution(options & 0x20 ? TFaxResolution::frHigh : TFaxResolution::frNormal);
  cvt.SetWidth(options & 0x40 ? TFaxWidth::fwWide : TFaxWidth::fwNormal);
  cvt.SetDocumentFile(in);
  cvt.SetOutFileName(out);
  bool failed = false;
  try {
    cvt.ConvertToApf();
  } catch (const EFaxException&) {
    failed = true;
  }
  if (failed && ::access(out.c_str(), F_OK) == 0) __builtin_trap();
  std::remove(in.c_str());
  std::remove(out.c_str());
}

}  // namespace veltrane::imaging::fuzz
