// Shared by the Qt backend's tests: a framework per test, and waiting for
// the event loop to bring something about.
#pragma once

#include "Platform/qt/QtDesktop.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace quellan::qt::testing {

/// Runs the event loop until `condition` holds or `limit` passes; returns whether it held.
bool spinUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(10));
/// Delivers what is already posted: queued calls and deferred deletions.
void drainEvents();

/// A test with its own framework, and so its own QApplication.
class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<QtFramework> framework_;
};

/// The arguments the test program was started with, as a framework takes them.
int& programArgc();
char**& programArgv();

} // namespace quellan::qt::testing
