// RTF writer: RtfDocument -> RTF text that word processors open.
#pragma once

#include <string>

#include "platform/richtext/rtf_model.h"

namespace veltrane::richtext {

// Text outside ASCII is written as \uN with a '?' fallback, so the result is
// plain ASCII. Placeholder runs become standard fields whose result is the
// field text, so other programs show it; marker runs are written inside the
// field only when present in the document.
std::string WriteRtf(const RtfDocument& doc);

}  // namespace veltrane::richtext
