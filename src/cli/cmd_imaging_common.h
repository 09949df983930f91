// Small helpers shared by the imaging commands of veltrane-fax.
#pragma once

#include <iostream>
#include <string>

#include "imaging/imaging_errors.h"

namespace veltrane::cli {

// Prints "veltrane-fax: NAME: message" for an imaging error code and gives
// the exit status of a failed command.
inline int FailWith(const std::string& name, int code) {
  std::cerr << "veltrane-fax: " << name << ": " << imaging::ImagingErrorText(code) << "\n";
  return 1;
}

// Lower-case extension of a path without the dot, "" when it has none.
inline std::string LowerExtension(const std::string& path) {
  const auto dot = path.find_last_of('.');
  const auto slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace veltrane::cli
