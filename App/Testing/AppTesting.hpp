#pragma once
// Helpers for the application's tests: private XDG folders so that no test
// touches the developer's settings, and waiting on the event loop for a
// condition. QtCore only: the model's tests use them without widgets.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "App/Platform/Settings.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME into a temporary folder for the
// life of the object, and puts them back afterwards.
class ScopedXdg {
public:
    ScopedXdg();
    ~ScopedXdg();
    ScopedXdg(const ScopedXdg&) = delete;
    ScopedXdg& operator=(const ScopedXdg&) = delete;

    std::filesystem::path config() const { return dir_.path() / "config"; }
    std::filesystem::path data() const { return dir_.path() / "data"; }
    // The support folder the program uses: data()/Tarvik.
    std::filesystem::path support() const { return data() / "Tarvik"; }
    std::unique_ptr<Settings> settings() const;

private:
    TempDir dir_;
    std::optional<std::string> oldConfig_;
    std::optional<std::string> oldData_;
};

// Runs the event loop until `condition` holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace tarvik::testing
