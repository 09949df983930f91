// Window placement sections of the settings file and the arithmetic that
// restores and centres windows. Pure functions: the screen's size and
// resolution are passed in, the windows apply the results.
#pragma once

#include <string>
#include <string_view>

#include "data/ini_file.h"

namespace veltrane::data {

struct PlacementRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int width() const { return Right - Left; }
  int height() const { return Bottom - Top; }
  bool operator==(const PlacementRect&) const = default;
};

struct FormPlacement {
  PlacementRect Bounds;    // the normal (not maximised, not minimised) position
  bool Maximized = false;
  bool operator==(const FormPlacement&) const = default;
};

struct ScreenSize {
  int Width = 0;
  int Height = 0;
};

// "<class>_Placement", with the resolution appended above 96 pixels per inch
// (TMainScreen_Placement120), so each resolution keeps its own placement.
std::string PlacementSectionName(std::string_view className, int pixelsPerInch);

// Reads Left, Top, Right, Bottom (default 0) and Maximized (default: whether
// the window is designed to open maximised).
FormPlacement ReadFormPlacement(const IniFile& ini, std::string_view section, bool designedMaximized);
void WriteFormPlacement(IniFile& ini, std::string_view section, const FormPlacement& placement);

// File forms: Load reads the file; Save keeps the rest of the file and throws
// SettingsWriteError when it cannot be written.
FormPlacement LoadFormPlacement(const std::string& iniFileName, std::string_view section,
                                bool designedMaximized);
void SaveFormPlacement(const std::string& iniFileName, std::string_view section,
                       const FormPlacement& placement);

struct RestoredPlacement {
  bool Center = false;     // nothing stored yet: centre the window instead
  PlacementRect Bounds;    // the bounds to give the window when !Center
  bool Maximize = false;
};

// A stored rectangle that reaches past the right or bottom screen edge is
// moved back by the excess, keeping its size; it is not clamped at the left
// or top. Bottom == 0 means nothing was stored.
RestoredPlacement RestoreFormPlacement(const FormPlacement& stored, ScreenSize screen);

// Where CenterForm puts a window of the given bounds: the main window itself
// and any window while the main window is maximised are centred on the
// screen, others over the main window. Halves round toward zero; the result is
// not kept on the screen.
PlacementRect CenterFormBounds(std::string_view className, const PlacementRect& window,
                               const PlacementRect& mainWindow, bool mainMaximized, ScreenSize screen);

}  // namespace veltrane::data
