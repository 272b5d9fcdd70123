#pragma once
// The small writer every report of the tool is written with: JSON objects and
// arrays, JUnit XML, and their escaping. Text from outside (file and port names,
// reader messages) may hold any bytes: the writers keep valid UTF-8, turn anything
// else and XML-forbidden control bytes into U+FFFD, and escape what XML and JSON
// need escaped, so every report stays valid whatever names it holds. The reports
// themselves (validate, verify, quantize: files/ci_report.h; train --json) only
// choose what to write.
//
// Thread rules: plain functions on caller-owned data; no shared state.

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// `text` as a JSON string, quotes included: control characters escaped, bytes
// that are not UTF-8 replaced, so every report stays valid JSON.
[[nodiscard]] std::string JsonString(std::string_view text);
// Shortest text that reads back as the same double; never locale-dependent.
[[nodiscard]] std::string JsonNumber(double value);
// `text` escaped for XML character data and attribute values.
[[nodiscard]] std::string XmlText(std::string_view text);

// A JSON object written member by member, with the commas in their places; the
// closing brace goes out when it is destroyed.
class JsonObject {
public:
    explicit JsonObject(std::ostream& out) : out_(out) { out_ << '{'; }
    JsonObject(const JsonObject&) = delete;
    JsonObject& operator=(const JsonObject&) = delete;
    ~JsonObject() { out_ << '}'; }

    // `json` is already JSON (a number, a nested object or array).
    void Raw(const char* key, const std::string& json) {
        if (!first_) out_ << ',';
        first_ = false;
        out_ << '"' << key << "\":" << json;
    }
    void Text(const char* key, std::string_view text) { Raw(key, JsonString(text)); }
    void Int(const char* key, long long value) { Raw(key, std::to_string(value)); }
    void Real(const char* key, double value) { Raw(key, JsonNumber(value)); }
    void Bool(const char* key, bool value) { Raw(key, value ? "true" : "false"); }
    void Null(const char* key) { Raw(key, "null"); }

private:
    std::ostream& out_;
    bool first_ = true;
};

// The JSON text of the object `fill` writes, for nesting with Raw.
[[nodiscard]] std::string JsonObjectText(const std::function<void(JsonObject&)>& fill);
// `items` (each already JSON) as a JSON array.
[[nodiscard]] std::string JsonArray(const std::vector<std::string>& items);

// "2026-12-09T11:05:18": UTC, to the second, as the JUnit schemas want it.
[[nodiscard]] std::string JUnitTimestamp(std::chrono::system_clock::time_point time);

// One <testcase>: passed, failed, in error or skipped, with its words.
struct JUnitCase {
    enum class Result { Passed, Failure, Error, Skipped };
    explicit JUnitCase(std::string caseName) : name(std::move(caseName)) {}
    std::string name;
    Result result = Result::Passed;
    std::string message;  // failure, error or skipped: the one-line reason
    std::string type;     // failure or error: its kind
    std::string text;     // failure or error: the details; passed: system-out
};

// A JUnit file of one suite, "COMMAND SUBJECT", with its properties and cases.
void WriteJUnit(std::ostream& out, const std::string& command, const std::string& subject,
                const std::vector<std::pair<std::string, std::string>>& properties,
                const std::vector<JUnitCase>& cases, double seconds, const std::string& timestamp);
