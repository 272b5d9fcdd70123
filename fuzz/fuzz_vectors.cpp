// The reader of lines of values on any bytes. The first byte sets how many bytes
// each read delivers and whether rows hold 8 or 16 values, the rest is the input:
// streaming it must give what parsing each line whole gives, however the reads cut
// the lines, and the simulate front end must write exactly those rows.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/vector_stream.h"
#include "files/value_lines.h"
#include "fuzz_check.h"

namespace {

// The longest message a line can give: a cut field is 40 characters and "...",
// quoted in "'...' is not a number (header lines come before the first row)".
constexpr std::size_t kMaxLineError = 110;

bool SameRow(const ValueRow& a, const ValueRow& b) {
    return a.line == b.line && a.timed == b.timed && a.ms == b.ms && a.values == b.values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = (data[0] & 0x7F) == 0x7F ? std::size_t{1} << 20 : 1 + data[0] % 32;
    const int perRow = data[0] & 0x80 ? kMaxRowValues : NET_INPUT_COUNT;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Line by line, each line fed whole.
    std::vector<ValueRow> expected;
    std::string expectedError;
    ValueLineParser parser(perRow);
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t nl = rest.find('\n');
        (void)parser.Feed(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        ValueRow row;
        std::string error;
        const ValueLineKind kind = parser.Finish(row, error);
        if (kind == ValueLineKind::Row) {
            for (int k = 0; k < perRow; ++k) FUZZ_CHECK(row.values[k] <= 255);
            FUZZ_CHECK(row.ms >= 0 && row.line == parser.LineNumber());
            expected.push_back(row);
        } else if (kind == ValueLineKind::Error) {
            FUZZ_CHECK(!error.empty() && error.size() <= kMaxLineError);
            expectedError = "line " + std::to_string(parser.LineNumber()) + ": " + error;
            break;
        } else {
            FUZZ_CHECK(error.empty());
        }
    }

    std::size_t pos = 0;
    const ChunkReader read = [&](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({piece, capacity, text.size() - pos});
        std::copy_n(text.data() + pos, n, buffer);
        pos += n;
        return static_cast<long>(n);
    };
    std::vector<ValueRow> rows;
    const ValueReadResult result = ReadValueLines(read, perRow, [&](const ValueRow& row) {
        rows.push_back(row);
        return true;
    });
    FUZZ_CHECK(result.Ok() == expectedError.empty());
    FUZZ_CHECK(result.error == expectedError);
    FUZZ_CHECK(rows.size() == expected.size() && result.rows == rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) FUZZ_CHECK(SameRow(rows[k], expected[k]));

    if (perRow == NET_INPUT_COUNT) {
        std::string expectedOut;
        for (const ValueRow& row : expected) {
            for (int k = 0; k < NET_INPUT_COUNT; ++k) {
                expectedOut += std::to_string(row.values[k]);
                expectedOut += k + 1 < NET_INPUT_COUNT ? '\t' : '\n';
            }
        }
        pos = 0;
        std::ostringstream out;
        const StreamResult streamed =
            StreamVectors(read, out, [](const NetInputs& v) { return NetOutputs(v); });
        FUZZ_CHECK(streamed.ok == expectedError.empty());
        FUZZ_CHECK(streamed.error == expectedError);
        FUZZ_CHECK(out.str() == expectedOut);
    }
    return 0;
}
