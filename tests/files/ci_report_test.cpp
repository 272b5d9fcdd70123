#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "files/ci_report.h"
#include "files/hex_net_file.h"
#include "files_test_support.h"
#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;
using files_test::Image;
using files_test::ScratchDirTest;

class CiReportTest : public ScratchDirTest {
protected:
    // xmllint's verdict against the schema Jenkins and GitLab read ("" when valid).
    std::string SchemaErrors(const std::string& xml) {
        const fs::path file = Write("report.xml", xml);
        const fs::path log = dir_ / "xmllint.log";
        const std::string cmd = "xmllint --noout --schema " + ShellQuote(PELKORA_JUNIT_XSD) + " " +
                                ShellQuote(file.string()) + " >" + ShellQuote(log.string()) +
                                " 2>&1";
        return std::system(cmd.c_str()) == 0 ? "" : ReadWholeFile(log);
    }
    // Python's strict reader: "" when `json` is one well-formed JSON value.
    std::string JsonErrors(const std::string& json) {
        const fs::path file = Write("report.json", json);
        const fs::path log = dir_ / "json.log";
        const std::string cmd =
            "python3 -c 'import json,sys; json.load(open(sys.argv[1], "
            "encoding=\"utf-8\", errors=\"strict\"))' " +
            ShellQuote(file.string()) + " >" + ShellQuote(log.string()) + " 2>&1";
        return std::system(cmd.c_str()) == 0 ? "" : ReadWholeFile(log);
    }
};

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto k = text.find(what); k != std::string::npos; k = text.find(what, k + 1)) ++n;
    return n;
}

// Names from outside may hold markup, quotes, control bytes and broken UTF-8.
const std::string kHostile = "/dev/<tty>&\"x\"\x01\x7f\xff\xc3(\t\xe2\x82\xac.txt";

ValidateFigures Validate(long mismatchesOn3, long failed, long compared) {
    ValidateFigures f;
    f.port = "/dev/ttyUSB0";
    f.netFile = "weights.txt";
    f.passes = compared + failed;
    f.failedPasses = failed;
    f.firstFailure = failed ? "Error reading from target (1460)" : "";
    for (auto& o : f.outputs) o = {compared, 0, 0, 0.0};
    f.outputs[2] = {compared, mismatchesOn3, mismatchesOn3 ? 2 : 0, mismatchesOn3 * 0.1};
    f.timestamp = "2026-12-09T11:05:18";
    f.seconds = 2.5;
    return f;
}

TEST_F(CiReportTest, ValidateReportsAreValidAndCountTheirFailures) {
    struct Case {
        const char* what;
        ValidateFigures figures;
        int failures;
        int skipped;
    };
    ValidateFigures hostile = Validate(1, 1, 5);
    hostile.port = hostile.netFile = hostile.firstFailure = kHostile;
    ValidateFigures nonchars = Validate(0, 0, 20);
    nonchars.port = "/dev/tty\xEF\xBF\xBE";
    nonchars.netFile = "w\xEF\xBF\xBF.txt";
    const Case cases[] = {
        {"match", Validate(0, 0, 20), 0, 0},
        {"mismatch on out3 and failed passes", Validate(3, 2, 18), 2, 0},
        // No output judged has not passed: a failure each, never skipped.
        {"nothing compared", Validate(0, 4, 0), 1 + NET_OUTPUT_COUNT, 0},
        {"hostile names", hostile, 2, 0},
        {"noncharacters U+FFFE and U+FFFF in the names", nonchars, 0, 0},
    };
    for (const Case& c : cases) {
        std::ostringstream xml, json;
        WriteValidateJUnit(xml, c.figures);
        WriteValidateJson(json, c.figures);
        EXPECT_EQ(SchemaErrors(xml.str()), "") << c.what << "\n" << xml.str();
        EXPECT_EQ(JsonErrors(json.str()), "") << c.what << "\n" << json.str();
        EXPECT_EQ(Count(xml.str(), "<failure "), c.failures) << c.what;
        EXPECT_NE(xml.str().find("failures=\"" + std::to_string(c.failures) + "\""),
                  std::string::npos)
            << c.what;
        EXPECT_EQ(Count(xml.str(), "<skipped "), c.skipped) << c.what;
        EXPECT_EQ(Count(xml.str(), "<testcase "), NET_OUTPUT_COUNT + 2) << c.what;
    }
}

TEST_F(CiReportTest, VerifyReportsAreValidForEveryOutcome) {
    VerifyFigures ok;
    ok.imageFile = "net.s19";
    ok.bank = "B000";
    ok.records = 72;
    ok.timestamp = "2026-12-09T11:05:18";
    VerifyFigures differs = ok;
    differs.netFile = "weights.txt";
    for (int k = 0; k < 30; ++k) differs.differences.push_back({k, 5, 7});
    VerifyFigures unreadable = ok;
    unreadable.imageError = "line 12: bad checksum";
    unreadable.netFile = "weights.txt";
    VerifyFigures badNet = differs;
    badNet.differences.clear();
    badNet.netError = "Error reading file";
    VerifyFigures hostile = unreadable;
    hostile.imageFile = hostile.netFile = hostile.imageError = kHostile;
    struct Case {
        const char* what;
        const VerifyFigures& figures;
        int failures, errors, skipped;
    };
    const Case cases[] = {
        {"well formed", ok, 0, 0, 0},
        {"30 differences", differs, 1, 0, 0},
        {"unreadable image", unreadable, 1, 0, 3},
        {"unreadable net", badNet, 0, 1, 0},
        {"hostile names", hostile, 1, 0, 3},
    };
    for (const Case& c : cases) {
        std::ostringstream xml, json;
        WriteVerifyJUnit(xml, c.figures);
        WriteVerifyJson(json, c.figures);
        EXPECT_EQ(SchemaErrors(xml.str()), "") << c.what << "\n" << xml.str();
        EXPECT_EQ(JsonErrors(json.str()), "") << c.what << "\n" << json.str();
        EXPECT_EQ(Count(xml.str(), "<failure "), c.failures) << c.what;
        EXPECT_EQ(Count(xml.str(), "<error "), c.errors) << c.what;
        EXPECT_EQ(Count(xml.str(), "<skipped "), c.skipped) << c.what;
    }
    // A failure lists the first differences, not all of them; the JSON has all.
    std::ostringstream xml, json;
    WriteVerifyJUnit(xml, differs);
    WriteVerifyJson(json, differs);
    EXPECT_EQ(Count(xml.str(), ": image 5, net 7"), static_cast<int>(kJUnitListedDifferences));
    EXPECT_NE(xml.str().find("and 10 more"), std::string::npos);
    EXPECT_EQ(Count(json.str(), "\"image\":5"), 30);
}

TEST(CiReport, TimestampIsUtcToTheSecond) {
    using namespace std::chrono;
    EXPECT_EQ(JUnitTimestamp(system_clock::time_point{}), "1970-01-01T00:00:00");
    const auto leapDay = sys_days{year{2024} / February / 29} + hours{23} + minutes{59} +
                         seconds{59} + milliseconds{999};
    EXPECT_EQ(JUnitTimestamp(leapDay), "2024-02-29T23:59:59");
}

// The commands end to end: the report lands in the file even when the check fails,
// and a report that cannot be written fails a check that passed.
TEST_F(CiReportTest, VerifyWritesItsReportsWhateverTheOutcome) {
    ModuleWeights weights{};
    weights[16] = 5;
    const fs::path image = Write("net.s19", Image(weights, 0xC400, FORMAT_S19));
    std::string netText;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) netText += n == 16 ? "14000000\n" : "0\n";
    const fs::path net = Write("net.txt", netText);
    const fs::path broken = Write("broken.s19", "S1FF\r\n");
    const fs::path xml = dir_ / "verify.xml";
    struct Case {
        std::string args;
        int exitCode;
        const char* inXml;
    };
    const Case cases[] = {
        {ShellQuote(image.string()), 0, "<system-out>C400</system-out>"},
        {ShellQuote(image.string()) + " --net " + ShellQuote(net.string()), 3, "): image 5, net 7"},
        {ShellQuote(broken.string()), 1, "type=\"image\""},
    };
    for (const Case& c : cases) {
        fs::remove(xml);
        const CliRun run = RunCli("verify " + c.args + " --junit " + ShellQuote(xml.string()));
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args << run.err;
        EXPECT_NE(ReadWholeFile(xml).find(c.inXml), std::string::npos) << ReadWholeFile(xml);
        EXPECT_EQ(SchemaErrors(ReadWholeFile(xml)), "");
        const CliRun json = RunCli("verify " + c.args + " --json");
        EXPECT_EQ(json.exitCode, c.exitCode);
        EXPECT_EQ(JsonErrors(json.out), "") << json.out;
        EXPECT_NE(json.out.find("\"exit_code\":" + std::to_string(c.exitCode)), std::string::npos);
    }
    const CliRun unwritable = RunCli("verify " + ShellQuote(image.string()) + " --junit " +
                                     ShellQuote((dir_ / "no-such-folder" / "verify.xml").string()));
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find("Error opening file"), std::string::npos) << unwritable.err;
}

TEST_F(CiReportTest, QuantizeJsonHoldsTheReportsFigures) {
    std::string netText;
    for (int n = 0; n < NET_WEIGHT_COUNT; ++n) netText += std::to_string(n * 1'000'003) + "\n";
    const fs::path net = Write("net.txt", netText);
    const CliRun run =
        RunCli("quantize --net " + ShellQuote(net.string()) + " --random 500 --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(JsonErrors(run.out), "") << run.out;
    EXPECT_NE(run.out.find("\"vectors\":500"), std::string::npos);
    EXPECT_EQ(Count(run.out, "\"rmse\":"), NET_OUTPUT_COUNT + 1);
    EXPECT_EQ(Count(run.out, "\"share_saturated\":"), NET_HIDDEN_COUNT);
    EXPECT_EQ(RunCli("quantize --net " + ShellQuote(net.string()) + " --json --tsv").exitCode, 2);
}

}  // namespace
