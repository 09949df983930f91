#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "data/placement.h"
#include "data/settings.h"

using namespace veltrane::data;

TEST(Placement, SectionNamePerResolution) {
  EXPECT_EQ(PlacementSectionName("TMainScreen", 96), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSectionName("TMainScreen", 72), "TMainScreen_Placement");
  EXPECT_EQ(PlacementSectionName("TMainScreen", 120), "TMainScreen_Placement120");
  EXPECT_EQ(PlacementSectionName("TFaxViewer", 144), "TFaxViewer_Placement144");
}

TEST(Placement, RestoreMovesBackOntoTheScreenAtRightAndBottomOnly) {
  struct Case {
    const char* what;
    PlacementRect stored;
    PlacementRect expected;
  };
  const ScreenSize screen{1024, 768};
  static const Case kCases[] = {
      {"inside", {10, 20, 810, 620}, {10, 20, 810, 620}},
      {"right edge off screen", {400, 20, 1200, 620}, {224, 20, 1024, 620}},
      {"bottom off screen", {10, 300, 810, 900}, {10, 168, 810, 768}},
      {"both", {500, 400, 1100, 800}, {424, 368, 1024, 768}},
      {"wider than the screen ends left of 0", {0, 0, 1200, 600}, {-176, 0, 1024, 600}},
      {"negative left is kept", {-50, -20, 300, 200}, {-50, -20, 300, 200}},
  };
  for (const Case& c : kCases) {
    const RestoredPlacement r = RestoreFormPlacement({c.stored, false}, screen);
    EXPECT_FALSE(r.Center) << c.what;
    EXPECT_EQ(r.Bounds, c.expected) << c.what;
  }
  const RestoredPlacement none = RestoreFormPlacement({{10, 20, 300, 0}, true}, screen);
  EXPECT_TRUE(none.Center);
  EXPECT_TRUE(none.Maximize);
}

TEST(Placement, CenterForm) {
  const ScreenSize screen{1024, 768};
  const PlacementRect main{100, 50, 901, 651};  // 801 x 601
  const PlacementRect dialog{0, 0, 400, 300};
  EXPECT_EQ(CenterFormBounds("TSendFaxForm", dialog, main, false, screen),
            (PlacementRect{300, 200, 700, 500}));
  EXPECT_EQ(CenterFormBounds("TSendFaxForm", dialog, main, true, screen),
            (PlacementRect{312, 234, 712, 534}));
  EXPECT_EQ(CenterFormBounds("tmainscreen", dialog, main, false, screen),
            (PlacementRect{312, 234, 712, 534}));
  // A window bigger than the main window: halves round toward zero, and the
  // result may leave the screen.
  const PlacementRect big{0, 0, 901, 601};
  EXPECT_EQ(CenterFormBounds("TFaxViewer", big, {0, 0, 800, 600}, false, screen),
            (PlacementRect{-50, 0, 851, 601}));
}

TEST(Placement, SavedSectionHasFiveKeysAndReadsBack) {
  const auto dir = std::filesystem::temp_directory_path() / ("vln-placement-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string ini = (dir / "VLN.INI").string();
  const std::string at96 = PlacementSectionName("TMainScreen", 96);
  const std::string at120 = PlacementSectionName("TMainScreen", 120);
  // Nothing stored: Maximized falls back to how the window is designed.
  EXPECT_TRUE(LoadFormPlacement(ini, at96, true).Maximized);
  EXPECT_FALSE(LoadFormPlacement(ini, at96, false).Maximized);

  SaveSettings(Settings{}, ini);
  SaveFormPlacement(ini, at96, {{10, 20, 810, 620}, true});
  SaveFormPlacement(ini, at120, {{1, 2, 3, 4}, false});
  const IniFile saved = IniFile::load(ini);
  EXPECT_EQ(saved.keyNames(at96), (std::vector<std::string>{"Left", "Top", "Right", "Bottom", "Maximized"}));
  EXPECT_EQ(LoadFormPlacement(ini, at96, false), (FormPlacement{{10, 20, 810, 620}, true}));
  EXPECT_EQ(LoadFormPlacement(ini, at120, true), (FormPlacement{{1, 2, 3, 4}, false}));
  Settings s;
  LoadSettings(s, ini);
  EXPECT_EQ(s, Settings{});
  std::filesystem::remove_all(dir);
}
