#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/engine.h"
#include "engine_test_peer.h"
#include "files/net_file.h"

namespace {

namespace fs = std::filesystem;

class WeightLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh engine starts with all-zero weights.
        dir_ =
            fs::temp_directory_path() /
            ("pelkora-loader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }

    static std::string Values(int count, int first) {
        std::string text;
        for (int n = 0; n < count; ++n) text += std::to_string(first + n * 1000000) + "\n";
        return text;
    }

    // What the window does: read the file, then hand the weights to the engine.
    FileResult LoadAsciiNetFile(const std::string& path) {
        FileWeights weights{};
        const FileResult result = ReadNetFile(path, weights);
        if (result == FileResult::Ok) engine_.LoadWeights(weights);
        return result;
    }

    Engine engine_;
    SharedState& state_ = EngineTestPeer::State(engine_);
    fs::path dir_;
};

TEST_F(WeightLoaderTest, SuccessReplacesBothFormsTogether) {
    ASSERT_EQ(LoadAsciiNetFile(Write("a.txt", Values(280, -140000000))), FileResult::Ok);
    std::lock_guard lock(state_.hMutex);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        EXPECT_EQ(state_.lFileWeights[n], -140000000 + n * 1000000);
        EXPECT_EQ(state_.sModuleWeights[n], DeriveModuleWeight(state_.lFileWeights[n]));
    }
}

TEST_F(WeightLoaderTest, FailedLoadChangesNothing) {
    ASSERT_EQ(LoadAsciiNetFile(Write("good.txt", Values(280, 5000000))), FileResult::Ok);
    FileWeights fileBefore;
    ModuleWeights moduleBefore;
    {
        std::lock_guard lock(state_.hMutex);
        fileBefore = state_.lFileWeights;
        moduleBefore = state_.sModuleWeights;
    }
    struct {
        const char* name;
        std::string text;
        FileResult result;
    } cases[] = {
        {"short.txt", Values(279, 0), FileResult::ReadFailed},
        {"empty.txt", "", FileResult::ReadFailed},
        {"stray.txt", Values(100, 0) + "12abc\n" + Values(200, 0), FileResult::ReadFailed},
        {"range.txt", Values(10, 0) + "2147483648\n" + Values(280, 0), FileResult::ReadFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadAsciiNetFile(Write(c.name, c.text)), c.result) << c.name;
        std::lock_guard lock(state_.hMutex);
        EXPECT_EQ(state_.lFileWeights, fileBefore) << c.name;
        EXPECT_EQ(state_.sModuleWeights, moduleBefore) << c.name;
    }
    EXPECT_EQ(LoadAsciiNetFile((dir_ / "missing.txt").string()), FileResult::OpenFailed);
    EXPECT_EQ(LoadAsciiNetFile(dir_.string()), FileResult::ReadFailed);  // a folder
    std::lock_guard lock(state_.hMutex);
    EXPECT_EQ(state_.lFileWeights, fileBefore);
}

TEST_F(WeightLoaderTest, MessagesAreTheOperatorTexts) {
    EXPECT_STREQ(FileResultText(FileResult::OpenFailed), "Error opening file");
    EXPECT_STREQ(FileResultText(FileResult::ReadFailed), "Error reading file");
}

TEST_F(WeightLoaderTest, ExtremesDeriveToTheModuleLimits) {
    std::string text = "2000000 1999999 -1999999 -2000000 2147483647 -2147483648\n";
    text += Values(274, 0);
    text += "0x10 010\n";  // beyond the 280th value: never read
    ASSERT_EQ(LoadAsciiNetFile(Write("x.txt", text)), FileResult::Ok);
    std::lock_guard lock(state_.hMutex);
    const std::int16_t expected[] = {1, 0, 0, -1, 1073, -1073};
    for (int n = 0; n < 6; ++n) EXPECT_EQ(state_.sModuleWeights[n], expected[n]);
}

}  // namespace
