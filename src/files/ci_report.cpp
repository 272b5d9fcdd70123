#include "files/ci_report.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace {

// The length of the UTF-8 sequence at `text[k]`, or 0 when the bytes there are no
// valid, shortest-form encoding of a scalar value.
std::size_t Utf8Sequence(std::string_view text, std::size_t k) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(k);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (k + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(k + i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(k + i) & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    if (overlong || surrogate || value > 0x10FFFF) return 0;
    return length;
}

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Appends `text` to `out` character by character: a byte that starts no valid UTF-8
// sequence becomes U+FFFD, and `escape(c, out)` may write the escaped form of a
// single-byte character c, returning false to have it copied as it stands. With
// `xml`, the noncharacters U+FFFE and U+FFFF, which XML 1.0 forbids however they
// are written, become U+FFFD too.
template <typename Escape>
void AppendEscaped(std::string& out, std::string_view text, Escape escape, bool xml = false) {
    for (std::size_t k = 0; k < text.size();) {
        const std::size_t n = Utf8Sequence(text, k);
        if (n == 0) {
            out += kReplacement;
            ++k;
            continue;
        }
        if (xml && n == 3 && text[k] == '\xEF' && text[k + 1] == '\xBF' &&
            (text[k + 2] == '\xBE' || text[k + 2] == '\xBF')) {
            out += kReplacement;
            k += n;
            continue;
        }
        if (n > 1 || !escape(static_cast<unsigned char>(text[k]), out)) {
            out.append(text.substr(k, n));
        }
        k += n;
    }
}

// XML 1.0 allows no control byte but TAB, LF and CR, even as a reference.
std::string XmlText(std::string_view text) {
    std::string out;
    AppendEscaped(
        out, text,
        [](unsigned char c, std::string& o) {
            switch (c) {
                case '&':
                    o += "&amp;";
                    return true;
                case '<':
                    o += "&lt;";
                    return true;
                case '>':
                    o += "&gt;";
                    return true;
                case '"':
                    o += "&quot;";
                    return true;
                case '\t':
                    o += "&#9;";  // kept as they are in attribute values too
                    return true;
                case '\n':
                    o += "&#10;";
                    return true;
                case '\r':
                    o += "&#13;";
                    return true;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        o += kReplacement;
                        return true;
                    }
                    return false;
            }
        },
        true);
    return out;
}

// Shortest text that reads back as the same double; never locale-dependent.
std::string Number(double value) {
    char digits[32];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    return ec == std::errc() ? std::string(digits, end) : std::string("0");
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string MeanText(double mean) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f", mean);
    return text;
}

// A JSON object written member by member, with the commas in their places.
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
    void Real(const char* key, double value) { Raw(key, Number(value)); }
    void Bool(const char* key, bool value) { Raw(key, value ? "true" : "false"); }
    void Null(const char* key) { Raw(key, "null"); }

private:
    std::ostream& out_;
    bool first_ = true;
};

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

// "validate:/dev/ttyUSB0": GitLab shows the classname as the suite, Jenkins reads its
// dots as packages, so the port or file keeps its name with the dots replaced.
std::string ClassName(const std::string& command, const std::string& subject) {
    std::string name = command + ':' + subject;
    for (char& c : name) {
        if (c == '.') c = '_';
    }
    return name;
}

void WriteJUnit(std::ostream& out, const std::string& command, const std::string& subject,
                const std::vector<std::pair<std::string, std::string>>& properties,
                const std::vector<JUnitCase>& cases, double seconds, const std::string& timestamp) {
    int failures = 0, errors = 0, skipped = 0;
    for (const JUnitCase& c : cases) {
        failures += c.result == JUnitCase::Result::Failure;
        errors += c.result == JUnitCase::Result::Error;
        skipped += c.result == JUnitCase::Result::Skipped;
    }
    const std::string counts = " tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                               "\"";
    const std::string time = " time=\"" + Seconds(seconds) + "\"";
    const std::string suite = XmlText(command + ' ' + subject);
    const std::string className = XmlText(ClassName(command, subject));
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<testsuites name=\"" << suite << "\"" << counts << time << ">\n"
        << "  <testsuite name=\"" << suite << "\"" << counts << " skipped=\"" << skipped << "\""
        << time << " timestamp=\"" << XmlText(timestamp) << "\">\n"
        << "    <properties>\n";
    for (const auto& [name, value] : properties) {
        out << "      <property name=\"" << XmlText(name) << "\" value=\"" << XmlText(value)
            << "\"/>\n";
    }
    out << "    </properties>\n";
    for (const JUnitCase& c : cases) {
        out << "    <testcase classname=\"" << className << "\" name=\"" << XmlText(c.name)
            << "\" time=\"0\">\n";
        switch (c.result) {
            case JUnitCase::Result::Passed:
                if (!c.text.empty())
                    out << "      <system-out>" << XmlText(c.text) << "</system-out>\n";
                break;
            case JUnitCase::Result::Skipped:
                out << "      <skipped message=\"" << XmlText(c.message) << "\"/>\n";
                break;
            case JUnitCase::Result::Failure:
            case JUnitCase::Result::Error: {
                const char* element = c.result == JUnitCase::Result::Failure ? "failure" : "error";
                out << "      <" << element << " message=\"" << XmlText(c.message) << "\" type=\""
                    << XmlText(c.type) << "\">" << XmlText(c.text) << "</" << element << ">\n";
                break;
            }
        }
        out << "    </testcase>\n";
    }
    out << "  </testsuite>\n</testsuites>\n";
}

long Compared(const ValidateFigures& f) {
    return f.outputs[0].compared;
}

const char* Verdict(const ValidateFigures& f) {
    if (Compared(f) == 0) return "NONE";
    for (const ValidateOutputFigures& o : f.outputs) {
        if (o.mismatches > 0) return "MISMATCH";
    }
    return "MATCH";
}

std::string OutputText(const ValidateOutputFigures& o) {
    return "compared " + std::to_string(o.compared) + ", mismatches " +
           std::to_string(o.mismatches) + ", largest |diff| " + std::to_string(o.largest) +
           ", mean diff " + MeanText(o.meanDiff);
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    AppendEscaped(out, text, [](unsigned char c, std::string& o) {
        if (c == '"' || c == '\\') {
            o += '\\';
            o += static_cast<char>(c);
        } else if (c == '\n') {
            o += "\\n";
        } else if (c == '\t') {
            o += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            o += escaped;
        } else {
            return false;
        }
        return true;
    });
    return out + '"';
}

std::string JUnitTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto secondsSinceEpoch = floor<seconds>(time);
    const auto day = floor<days>(secondsSinceEpoch);
    const year_month_day date{day};
    const hh_mm_ss clock{secondsSinceEpoch - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", int{date.year()},
        unsigned{date.month()}, unsigned{date.day()}, static_cast<int>(clock.hours().count()),
        static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
    return text;
}

void WriteValidateJUnit(std::ostream& out, const ValidateFigures& f) {
    std::vector<JUnitCase> cases;
    for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
        const ValidateOutputFigures& o = f.outputs[m];
        JUnitCase c{"out" + std::to_string(m + 1)};
        if (o.compared == 0) {
            // An output never judged has not passed.
            c.result = JUnitCase::Result::Failure;
            c.type = "no verdict";
            c.message = "no pass compared";
            c.text = "no pass could be compared with the host: " + std::to_string(f.failedPasses) +
                     " failed, " + std::to_string(f.movedPasses) + " inputs moved, of " +
                     std::to_string(f.passes);
        } else if (o.mismatches > 0) {
            c.result = JUnitCase::Result::Failure;
            c.type = "mismatch";
            c.message = std::to_string(o.mismatches) + " of " + std::to_string(o.compared) +
                        " passes differ from the host by more than " + std::to_string(f.tolerance) +
                        " LSB";
            c.text = OutputText(o);
        } else {
            c.text = OutputText(o);
        }
        cases.push_back(std::move(c));
    }
    JUnitCase failed{"failed passes"};
    failed.text =
        std::to_string(f.failedPasses) + " of " + std::to_string(f.passes) + " passes failed";
    if (f.failedPasses > 0) {
        failed.result = JUnitCase::Result::Failure;
        failed.type = "link";
        failed.message = failed.text;
        failed.text += "; the first: " + f.firstFailure;
    }
    cases.push_back(std::move(failed));
    JUnitCase moved{"inputs moved"};
    moved.text = std::to_string(f.movedPasses) + " of " + std::to_string(f.passes) +
                 " passes had inputs that moved too far between the readings to be judged";
    cases.push_back(std::move(moved));
    WriteJUnit(out, "validate", f.port,
               {{"port", f.port},
                {"net", f.netFile},
                {"tolerance", std::to_string(f.tolerance)},
                {"passes", std::to_string(f.passes)},
                {"verdict", Verdict(f)}},
               cases, f.seconds, f.timestamp);
}

void WriteValidateJson(std::ostream& out, const ValidateFigures& f) {
    {
        JsonObject o(out);
        o.Text("command", "validate");
        o.Text("port", f.port);
        o.Text("net", f.netFile);
        o.Int("tolerance", f.tolerance);
        o.Int("passes", f.passes);
        o.Int("compared", Compared(f));
        o.Int("failed_passes", f.failedPasses);
        o.Int("inputs_moved", f.movedPasses);
        if (f.firstFailure.empty()) {
            o.Null("first_failure");
        } else {
            o.Text("first_failure", f.firstFailure);
        }
        std::string outputs = "[";
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            std::ostringstream one;
            {
                JsonObject e(one);
                e.Int("output", m + 1);
                e.Int("compared", f.outputs[m].compared);
                e.Int("mismatches", f.outputs[m].mismatches);
                e.Int("max_abs_diff", f.outputs[m].largest);
                e.Real("mean_diff", f.outputs[m].meanDiff);
            }
            outputs += (m ? "," : "") + one.str();
        }
        o.Raw("outputs", outputs + ']');
        o.Text("verdict", Verdict(f));
        o.Real("seconds", f.seconds);
        o.Int("exit_code", f.exitCode);
    }
    out << '\n';
}

void WriteVerifyJUnit(std::ostream& out, const VerifyFigures& f) {
    const bool readable = f.imageError.empty();
    std::vector<JUnitCase> cases;
    JUnitCase wellFormed{"well-formed"};
    if (!readable) {
        wellFormed.result = JUnitCase::Result::Failure;
        wellFormed.type = "image";
        wellFormed.message = f.imageError;
        wellFormed.text = f.imageFile + ": " + f.imageError;
    } else {
        wellFormed.text = std::to_string(f.records) + " records, " +
                          std::to_string(NET_WEIGHT_COUNT) + " weights";
    }
    cases.push_back(std::move(wellFormed));
    JUnitCase bank{"bank"}, format{"format"};
    if (readable) {
        bank.text = f.bank;
        format.text = HexFileFormatName(f.format);
    } else {
        bank.result = format.result = JUnitCase::Result::Skipped;
        bank.message = format.message = "the image could not be read";
    }
    cases.push_back(std::move(bank));
    cases.push_back(std::move(format));
    if (!f.netFile.empty()) {
        JUnitCase same{"same weights as the net"};
        if (!f.netError.empty()) {
            same.result = JUnitCase::Result::Error;
            same.type = "net";
            same.message = f.netFile + ": " + f.netError;
            same.text = same.message;
        } else if (!readable) {
            same.result = JUnitCase::Result::Skipped;
            same.message = "the image could not be read";
        } else if (!f.differences.empty()) {
            same.result = JUnitCase::Result::Failure;
            same.type = "weights";
            same.message = std::to_string(f.differences.size()) + " of " +
                           std::to_string(NET_WEIGHT_COUNT) + " weights differ from " + f.netFile;
            for (std::size_t k = 0; k < f.differences.size() && k < kJUnitListedDifferences; ++k) {
                same.text += WeightDifferenceText(f.differences[k]) + '\n';
            }
            if (f.differences.size() > kJUnitListedDifferences) {
                same.text += "... and " +
                             std::to_string(f.differences.size() - kJUnitListedDifferences) +
                             " more\n";
            }
        } else {
            same.text = "Same weights as " + f.netFile;
        }
        cases.push_back(std::move(same));
    }
    std::vector<std::pair<std::string, std::string>> properties{{"image", f.imageFile}};
    if (!f.netFile.empty()) properties.emplace_back("net", f.netFile);
    if (readable) {
        properties.emplace_back("format", HexFileFormatName(f.format));
        properties.emplace_back("bank", f.bank);
    }
    WriteJUnit(out, "verify", f.imageFile, properties, cases, f.seconds, f.timestamp);
}

void WriteVerifyJson(std::ostream& out, const VerifyFigures& f) {
    const bool readable = f.imageError.empty();
    {
        JsonObject o(out);
        o.Text("command", "verify");
        o.Text("image", f.imageFile);
        o.Bool("well_formed", readable);
        if (readable) {
            o.Null("error");
            o.Text("format", HexFileFormatName(f.format));
            o.Text("bank", f.bank);
            o.Int("records", f.records);
            o.Int("weights", NET_WEIGHT_COUNT);
        } else {
            o.Text("error", f.imageError);
        }
        if (f.netFile.empty()) {
            o.Null("net");
        } else {
            o.Text("net", f.netFile);
            if (!f.netError.empty()) o.Text("net_error", f.netError);
            if (readable && f.netError.empty()) {
                o.Bool("same_weights", f.differences.empty());
                std::string list = "[";
                for (std::size_t k = 0; k < f.differences.size(); ++k) {
                    const WeightDifference& d = f.differences[k];
                    std::ostringstream one;
                    {
                        JsonObject e(one);
                        e.Int("weight", d.index);
                        e.Text("place", WeightPlaceText(d.index));
                        e.Int("image", d.imageWeight);
                        e.Int("net", d.netWeight);
                    }
                    list += (k ? "," : "") + one.str();
                }
                o.Raw("differences", list + ']');
            }
        }
        o.Real("seconds", f.seconds);
        o.Int("exit_code", f.exitCode);
    }
    out << '\n';
}

void WriteQuantizationJson(std::ostream& out, const std::string& netFile, const std::string& source,
                           const QuantizationReport& report) {
    const auto outputJson = [](const OutputError& e) {
        std::ostringstream one;
        {
            JsonObject o(one);
            o.Int("max_abs_error", e.maxError);
            o.Real("mean_abs_error", e.meanError);
            o.Real("rmse", e.rmse);
            o.Real("share_exact", e.shareExact);
            o.Real("share_within_1", e.shareWithinOne);
        }
        return one.str();
    };
    {
        JsonObject o(out);
        o.Text("command", "quantize");
        o.Text("net", netFile);
        o.Text("vectors_from", source);
        o.Int("vectors", static_cast<long long>(report.vectors));
        std::string outputs = "[";
        for (int m = 0; m < NET_OUTPUT_COUNT; ++m) {
            outputs += (m ? "," : "") + outputJson(report.outputs[m]);
        }
        o.Raw("outputs", outputs + ']');
        o.Raw("all", outputJson(report.all));
        std::string hidden = "[";
        for (int j = 0; j < NET_HIDDEN_COUNT; ++j) {
            std::ostringstream one;
            {
                JsonObject h(one);
                h.Real("share_saturated", report.hidden[j].shareSaturated);
                h.Real("share_differing", report.hidden[j].shareDiffering);
            }
            hidden += (j ? "," : "") + one.str();
        }
        o.Raw("hidden", hidden + ']');
        o.Int("weights_lost", report.weightsLost);
        o.Int("largest_weight_error_file_units", report.largestWeightError);
        o.Real("largest_weight_error", report.largestWeightError / 1e11);
    }
    out << '\n';
}
