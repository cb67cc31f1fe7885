// The Wayland test desktops come up and show a client's windows.
#include "WaylandSession.hpp"

#include <gtest/gtest.h>

namespace quellan::wayland::testing {
namespace {

class HarnessSmokeTest : public ::testing::TestWithParam<Compositor> {};

TEST_P(HarnessSmokeTest, ShowsTheWindowsOfAClient) {
    std::string error;
    auto session = WaylandSession::start(GetParam(), error);
    ASSERT_NE(session, nullptr) << error;
    auto windows = session->startWindows("quellan.harness", error);
    ASSERT_NE(windows, nullptr) << error;
    EXPECT_TRUE(windows->open("First"));
    EXPECT_TRUE(windows->open("Second"));
    EXPECT_TRUE(session->running());
}

INSTANTIATE_TEST_SUITE_P(Compositors, HarnessSmokeTest,
                         ::testing::Values(Compositor::kwin, Compositor::sway, Compositor::weston),
                         [](const auto& info) { return name(info.param); });

} // namespace
} // namespace quellan::wayland::testing
