#include "App/Testing/AppTesting.hpp"

#include <QTest>
#include <cstdlib>

namespace tarvik::testing {

namespace {

std::optional<std::string> getenvString(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

void restore(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

}  // namespace

ScopedXdg::ScopedXdg()
    : oldConfig_(getenvString("XDG_CONFIG_HOME")), oldData_(getenvString("XDG_DATA_HOME")) {
    std::filesystem::create_directories(config());
    std::filesystem::create_directories(data());
    ::setenv("XDG_CONFIG_HOME", config().c_str(), 1);
    ::setenv("XDG_DATA_HOME", data().c_str(), 1);
}

ScopedXdg::~ScopedXdg() {
    restore("XDG_CONFIG_HOME", oldConfig_);
    restore("XDG_DATA_HOME", oldData_);
}

std::unique_ptr<Settings> ScopedXdg::settings() const {
    return Settings::standard();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(condition, static_cast<int>(timeout.count()));
}

}  // namespace tarvik::testing
