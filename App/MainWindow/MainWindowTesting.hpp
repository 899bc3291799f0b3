#pragma once
// For the main window's tests only: a model ready to export, on temporary
// settings. Header-only, so that the widgets' library does not carry it.
#include <filesystem>
#include <string>

#include "App/Testing/WidgetTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// A model that may export: a music folder with the artist "青い月" chosen, an
// existing destination folder `destination` below dir, and the default unit.
struct ReadyModel {
    TempDir dir;
    ModelFixture f;

    explicit ReadyModel(const std::string& destination = "out")
        : f([&](Settings& settings) {
              std::filesystem::create_directories(dir / "music" / "青い月");
              std::filesystem::create_directories(dir / destination);
              settings.setString("srcPath", (dir / "music").string());
              settings.setStringList("selected", {"青い月"});
              settings.setString("destPath", (dir / destination).string());
          }) {}
    AppModel& model() { return *f.model; }
};

}  // namespace tarvik::testing
