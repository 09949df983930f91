// The text input reader of the converter (plain text drawn with the fax font).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "imaging/input_reader.h"

namespace veltrane::imaging {

std::unique_ptr<InputReader> MakeTextInputReader();
// Tabs expanded with spaces up to the next multiple of tabStop.
std::string ExpandTabs(std::string_view line, int tabStop);

}  // namespace veltrane::imaging
