#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/engine.h"

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

    LoadResult LoadAsciiNetFile(const std::string& path) { return engine_.LoadAsciiNetFile(path); }

    Engine engine_;
    SharedState& state_ = engine_.State();
    fs::path dir_;
};

TEST_F(WeightLoaderTest, SuccessReplacesBothFormsTogether) {
    ASSERT_EQ(LoadAsciiNetFile(Write("a.txt", Values(280, -140000000))), LoadResult::Ok);
    std::lock_guard lock(state_.hMutex);
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) {
        EXPECT_EQ(state_.lFileWeights[n], -140000000 + n * 1000000);
        EXPECT_EQ(state_.sModuleWeights[n], DeriveModuleWeight(state_.lFileWeights[n]));
    }
}

TEST_F(WeightLoaderTest, FailedLoadChangesNothing) {
    ASSERT_EQ(LoadAsciiNetFile(Write("good.txt", Values(280, 5000000))), LoadResult::Ok);
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
        LoadResult result;
    } cases[] = {
        {"short.txt", Values(279, 0), LoadResult::ReadFailed},
        {"empty.txt", "", LoadResult::ReadFailed},
        {"stray.txt", Values(100, 0) + "12abc\n" + Values(200, 0), LoadResult::ReadFailed},
        {"range.txt", Values(10, 0) + "2147483648\n" + Values(280, 0), LoadResult::ReadFailed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadAsciiNetFile(Write(c.name, c.text)), c.result) << c.name;
        std::lock_guard lock(state_.hMutex);
        EXPECT_EQ(state_.lFileWeights, fileBefore) << c.name;
        EXPECT_EQ(state_.sModuleWeights, moduleBefore) << c.name;
    }
    EXPECT_EQ(LoadAsciiNetFile((dir_ / "missing.txt").string()), LoadResult::OpenFailed);
    EXPECT_EQ(LoadAsciiNetFile(dir_.string()), LoadResult::ReadFailed);  // a folder
    std::lock_guard lock(state_.hMutex);
    EXPECT_EQ(state_.lFileWeights, fileBefore);
}

TEST_F(WeightLoaderTest, MessagesAreTheOperatorTexts) {
    EXPECT_STREQ(LoadResultText(LoadResult::OpenFailed), "Error opening file");
    EXPECT_STREQ(LoadResultText(LoadResult::ReadFailed), "Error reading file");
}

TEST_F(WeightLoaderTest, ExtremesDeriveToTheModuleLimits) {
    std::string text = "2000000 1999999 -1999999 -2000000 2147483647 -2147483648\n";
    text += Values(274, 0);
    text += "0x10 010\n";  // beyond the 280th value: never read
    ASSERT_EQ(LoadAsciiNetFile(Write("x.txt", text)), LoadResult::Ok);
    std::lock_guard lock(state_.hMutex);
    const std::int16_t expected[] = {1, 0, 0, -1, 1073, -1073};
    for (int n = 0; n < 6; ++n) EXPECT_EQ(state_.sModuleWeights[n], expected[n]);
}

}  // namespace
