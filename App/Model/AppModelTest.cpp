#include "App/Model/AppModel.hpp"

#include <gtest/gtest.h>

#include "App/Testing/AppTesting.hpp"

namespace tarvik {
namespace {

AppModel::Services servicesFor(const testing::ScopedXdg& xdg) {
    AppModel::Services services;
    services.settings = xdg.settings();
    services.legacySettings = [] { return Settings::legacy(); };
    services.systemLowLoad = [] { return false; };
    return services;
}

TEST(AppModelStartTest, FirstStartSelectsTheDefaultDeliveredProfile) {
    testing::ScopedXdg xdg;
    AppModel model(servicesFor(xdg));
    EXPECT_EQ(model.profileId(), "panasonic-hds940d");
    EXPECT_FALSE(model.profiles().empty());
    EXPECT_TRUE(model.profiles().front().isBuiltin);
}

}  // namespace
}  // namespace tarvik
