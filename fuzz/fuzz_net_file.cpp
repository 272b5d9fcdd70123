// The ASCII net file reader on any bytes: no crash, no undefined behaviour, a
// consistent result, and values that read back the same when written out.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_check.h"
#include "network/net_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    FileWeights weights{};
    const NetReadResult result = ReadAsciiNet(in, weights);
    FUZZ_CHECK(result.valuesRead >= 0 && result.valuesRead <= NET_WEIGHT_COUNT);
    FUZZ_CHECK((result.status == NetReadStatus::Ok) == (result.valuesRead == NET_WEIGHT_COUNT));
    FUZZ_CHECK(result.status != NetReadStatus::StreamError);  // a string never fails to read
    if (result.status != NetReadStatus::Ok) return 0;
    // The 280th value ended at whitespace or at the end, never inside a token.
    const int next = in.peek();
    FUZZ_CHECK(next == std::char_traits<char>::eof() || next == ' ' || next == '\t' ||
               next == '\n' || next == '\r' || next == '\v' || next == '\f');

    std::string text;
    for (const std::int32_t w : weights) text += std::to_string(w) + '\n';
    std::istringstream again(text);
    FileWeights reread{};
    FUZZ_CHECK(ReadAsciiNet(again, reread).status == NetReadStatus::Ok);
    FUZZ_CHECK(reread == weights);
    return 0;
}
