// Arbitrary settings-file text: reading every setting and placement, then
// writing them back into the same text, must neither crash nor hang, and a
// second read of the written text must give the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data/ini_file.h"
#include "data/placement.h"
#include "data/settings.h"

using namespace veltrane::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IniFile ini = IniFile::parse(text);
  Settings settings;
  LoadSettings(settings, ini);
  const FormPlacement placement = ReadFormPlacement(ini, PlacementSectionName("TMainScreen", 120), true);
  (void)RestoreFormPlacement(placement, {1024, 768});

  SaveSettings(settings, ini);
  WriteFormPlacement(ini, "TMainScreen_Placement", placement);
  Settings again;
  LoadSettings(again, IniFile::parse(ini.text()));
  if (!(again == settings)) std::abort();
  return 0;
}
