// The flash image reader on any bytes: no crash, no undefined behaviour, and an
// image it accepts is one of the twelve banks and reads back the same weights once
// written out again in the tool's own form.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "files/flash_image_reader.h"
#include "files/hex_net_file.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FlashImageRead read =
        ReadFlashImage(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.Ok()) {
        FUZZ_CHECK(!FlashImageErrorText(read).empty());
        return 0;
    }
    const std::uint16_t start = read.image.wStartAddress;
    FUZZ_CHECK(start >= FLASH_BANK_FIRST && (start - FLASH_BANK_FIRST) % FLASH_BANK_SIZE == 0 &&
               (start - FLASH_BANK_FIRST) / FLASH_BANK_SIZE < FLASH_BANK_COUNT);
    std::ostringstream out;
    FUZZ_CHECK(WriteHexNetFile(out, read.image.weights, start, read.image.format));
    const FlashImageRead again = ReadFlashImage(out.str());
    FUZZ_CHECK(again.Ok());
    FUZZ_CHECK(again.image.weights == read.image.weights);
    FUZZ_CHECK(again.image.wStartAddress == start);
    return 0;
}
