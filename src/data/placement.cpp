#include "data/placement.h"

#include "data/settings.h"

namespace veltrane::data {
namespace {

constexpr int kBaseResolution = 96;

PlacementRect moveTo(const PlacementRect& r, int left, int top) {
  return {left, top, left + r.width(), top + r.height()};
}

}  // namespace

std::string PlacementSectionName(std::string_view className, int pixelsPerInch) {
  std::string name = std::string(className) + "_Placement";
  if (pixelsPerInch > kBaseResolution) name += std::to_string(pixelsPerInch);
  return name;
}

FormPlacement ReadFormPlacement(const IniFile& ini, std::string_view section, bool designedMaximized) {
  FormPlacement p;
  p.Bounds.Left = ReadIniInteger(ini, section, "Left", 0);
  p.Bounds.Top = ReadIniInteger(ini, section, "Top", 0);
  p.Bounds.Right = ReadIniInteger(ini, section, "Right", 0);
  p.Bounds.Bottom = ReadIniInteger(ini, section, "Bottom", 0);
  p.Maximized = ReadIniBool(ini, section, "Maximized", designedMaximized);
  return p;
}

void WriteFormPlacement(IniFile& ini, std::string_view section, const FormPlacement& p) {
  ini.setValue(section, "Left", std::to_string(p.Bounds.Left));
  ini.setValue(section, "Top", std::to_string(p.Bounds.Top));
  ini.setValue(section, "Right", std::to_string(p.Bounds.Right));
  ini.setValue(section, "Bottom", std::to_string(p.Bounds.Bottom));
  WriteIniBool(ini, section, "Maximized", p.Maximized);
}

FormPlacement LoadFormPlacement(const std::string& iniFileName, std::string_view section,
                                bool designedMaximized) {
  return ReadFormPlacement(IniFile::load(iniFileName), section, designedMaximized);
}

void SaveFormPlacement(const std::string& iniFileName, std::string_view section,
                       const FormPlacement& placement) {
  IniFile ini = IniFile::load(iniFileName);
  WriteFormPlacement(ini, section, placement);
  if (!ini.save(iniFileName)) throw SettingsWriteError(iniFileName);
}

RestoredPlacement RestoreFormPlacement(const FormPlacement& stored, ScreenSize screen) {
  RestoredPlacement result;
  result.Maximize = stored.Maximized;
  if (stored.Bounds.Bottom == 0) {
    result.Center = true;
    return result;
  }
  PlacementRect r = stored.Bounds;
  if (r.Right > screen.Width) {
    r.Left -= r.Right - screen.Width;
    r.Right = screen.Width;
  }
  if (r.Bottom > screen.Height) {
    r.Top -= r.Bottom - screen.Height;
    r.Bottom = screen.Height;
  }
  result.Bounds = r;
  return result;
}

PlacementRect CenterFormBounds(std::string_view className, const PlacementRect& window,
                               const PlacementRect& mainWindow, bool mainMaximized, ScreenSize screen) {
  if (equalsIgnoreCase(className, "TMAINSCREEN") || mainMaximized)
    return moveTo(window, (screen.Width - window.width()) / 2, (screen.Height - window.height()) / 2);
  return moveTo(window, mainWindow.Left + (mainWindow.width() - window.width()) / 2,
                mainWindow.Top + (mainWindow.height() - window.height()) / 2);
}

}  // namespace veltrane::data
