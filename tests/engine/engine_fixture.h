#pragma once
// Shared set-up for tests that run the real worker: an engine of the test's own
// (on the termios opener and the devices PELKORA_COM1/2 name at SetUp), and a
// notifier that records the status text and report of each notification.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine_test_peer.h"

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { NewEngine(); }
    void TearDown() override {
        if (engine_) engine_->Stop();
    }

    // A fresh engine on the port map the environment names now.
    void NewEngine(std::unique_ptr<SerialOpener> opener = nullptr) {
        engine_.reset();
        engine_ = std::make_unique<Engine>(std::move(opener), PortMap::FromEnvironment());
        engine_->SetNotifier([this](const PassReport& r) { OnNotify(r); });
    }

    Engine& engine() { return *engine_; }
    SharedState& State() { return EngineTestPeer::State(*engine_); }
    bool StartEngine() { return engine_->Start(); }
    void StopEngine() { engine_->Stop(); }
    void RequestEngineStop() { engine_->RequestStop(); }
    bool WaitForEngine(std::chrono::milliseconds timeout) {
        return engine_->WaitForWorker(timeout);
    }
    bool IsEngineRunning() { return !engine_->WaitForWorker(std::chrono::milliseconds(0)); }
    StatusText GetStatus() { return EngineTestPeer::GetStatus(*engine_); }

    // Runs on the worker, which never calls it holding hMutex.
    void OnNotify(const PassReport& report) {
        std::lock_guard lock(seenMutex_);
        seen_.push_back(report.status.text);
        reports_.push_back(report);
        seenChanged_.notify_all();
    }

    std::vector<std::string> Seen() {
        std::lock_guard lock(seenMutex_);
        return seen_;
    }
    std::vector<PassReport> Reports() {
        std::lock_guard lock(seenMutex_);
        return reports_;
    }

    // Waits until `count` notifications have arrived (or 30 s passed: a wait
    // costs only when it fails, and a sanitizer build on a busy machine is slow).
    bool WaitForNotifications(std::size_t count) {
        std::unique_lock lock(seenMutex_);
        return seenChanged_.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return seen_.size() >= count; });
    }

    void SetMode(EngineMode mode) {
        std::lock_guard lock(State().hMutex);
        State().nMode = mode;
    }

private:
    std::unique_ptr<Engine> engine_;
    std::mutex seenMutex_;
    std::condition_variable seenChanged_;
    std::vector<std::string> seen_;    // guarded by seenMutex_
    std::vector<PassReport> reports_;  // guarded by seenMutex_
};
