// The input-vector reader on any bytes. The first byte sets how many bytes each
// read delivers, the rest is the input: streaming it must give what parsing each
// line whole gives, however the reads cut the lines.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "cli/vector_stream.h"
#include "fuzz_check.h"

namespace {

// The longest message a line can give: a cut field is 40 characters and "...".
constexpr std::size_t kMaxLineError = 100;

void AppendLine(std::string& text, const NetInputs& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        text += std::to_string(values[i]);
        text += i + 1 < values.size() ? '\t' : '\n';
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = data[0] == 0xFF ? std::size_t{1} << 20 : 1 + data[0] % 32;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Line by line, as a whole-line reader would.
    std::string expectedOut;
    std::string expectedError;
    std::size_t expectedVectors = 0;
    std::size_t lineNumber = 0;
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        ++lineNumber;
        NetInputs inputs{};
        std::string error;
        const LineKind kind = ParseInputLine(line, inputs, error);
        if (kind == LineKind::Vector) {
            for (const std::uint16_t v : inputs) FUZZ_CHECK(v <= 255);
            AppendLine(expectedOut, inputs);
            ++expectedVectors;
        } else if (kind == LineKind::Error) {
            FUZZ_CHECK(!error.empty() && error.size() <= kMaxLineError);
            expectedError = "line " + std::to_string(lineNumber) + ": " + error;
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
    std::ostringstream out;
    const StreamResult result =
        StreamVectors(read, out, [](const NetInputs& v) { return NetOutputs(v); });
    FUZZ_CHECK(result.ok == expectedError.empty());
    FUZZ_CHECK(result.error == expectedError);
    FUZZ_CHECK(result.vectors == expectedVectors);
    FUZZ_CHECK(out.str() == expectedOut);
    return 0;
}
