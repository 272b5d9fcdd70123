#include "files/report_writer.h"

#include <charconv>
#include <cstdio>
#include <sstream>

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

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

// "validate:/dev/ttyUSB0": GitLab shows the classname as the suite, Jenkins reads its
// dots as packages, so the port or file keeps its name with the dots replaced.
std::string ClassName(const std::string& command, const std::string& subject) {
    std::string name = command + ':' + subject;
    for (char& c : name) {
        if (c == '.') c = '_';
    }
    return name;
}

}  // namespace

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
std::string JsonNumber(double value) {
    char digits[32];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    return ec == std::errc() ? std::string(digits, end) : std::string("0");
}

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

std::string JsonArray(const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t k = 0; k < items.size(); ++k) text += (k ? "," : "") + items[k];
    return text + ']';
}

std::string JsonObjectText(const std::function<void(JsonObject&)>& fill) {
    std::ostringstream out;
    {
        JsonObject object(out);
        fill(object);
    }
    return out.str();
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
