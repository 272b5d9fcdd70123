#pragma once
// Shared set-up for tests that run the real worker on g_State: a notifier that
// counts and records the status text seen at each notification.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitSharedState([this] { OnNotify(); });
        {
            std::lock_guard lock(g_State.hMutex);
            g_State.sModuleWeights.fill(0);
        }
    }
    void TearDown() override { StopEngine(); }

    // Runs on the worker: must not take hMutex re-entrantly from inside a hold, and
    // the engine promises it never calls us holding it, so GetStatus is safe.
    void OnNotify() {
        const std::string status = GetStatus().text;
        std::lock_guard lock(seenMutex_);
        seen_.push_back(status);
        seenChanged_.notify_all();
    }

    std::vector<std::string> Seen() {
        std::lock_guard lock(seenMutex_);
        return seen_;
    }

    // Waits until `count` notifications have arrived (or 5 s passed).
    bool WaitForNotifications(std::size_t count) {
        std::unique_lock lock(seenMutex_);
        return seenChanged_.wait_for(lock, std::chrono::seconds(5),
                                     [&] { return seen_.size() >= count; });
    }

    void SetMode(EngineMode mode) {
        std::lock_guard lock(g_State.hMutex);
        g_State.nMode = mode;
    }

private:
    std::mutex seenMutex_;
    std::condition_variable seenChanged_;
    std::vector<std::string> seen_;
};
