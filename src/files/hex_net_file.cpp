#include "files/hex_net_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <utility>

#include "files/file_platform.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kS19EndRecord = "S9030000FC";
constexpr const char* kHexEndRecord = ":00000001FF";
constexpr const char* kLineEnd = "\r\n";  // on every platform: the module's tools expect it

// One record: start, count, address, (Intel: type 00), data, checksum, CR LF.
void WriteRecord(std::ostream& out, HexFileFormat format, std::uint16_t address,
                 const std::uint8_t* data, std::size_t size) {
    std::uint8_t checksum = 0;
    if (format == FORMAT_S19) {
        out << "S1";
        // The S-record count covers the address, the data and the checksum.
        WriteHexByte(out, static_cast<std::uint8_t>(size + 3), checksum);
    } else {
        out << ':';
        WriteHexByte(out, static_cast<std::uint8_t>(size), checksum);
    }
    WriteHexByte(out, static_cast<std::uint8_t>(address >> 8), checksum);
    WriteHexByte(out, static_cast<std::uint8_t>(address & 0xFF), checksum);
    if (format == FORMAT_HEX) WriteHexByte(out, 0x00, checksum);
    for (std::size_t n = 0; n < size; ++n) WriteHexByte(out, data[n], checksum);
    const std::uint8_t sum = checksum;
    const auto check = static_cast<std::uint8_t>(format == FORMAT_S19 ? ~sum : -sum);
    WriteHexByte(out, check, checksum);
    out << kLineEnd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// A buffered stream onto a descriptor, so that the stream's error state reflects
// failed writes (ENOSPC, EIO, EFBIG) and the descriptor stays ours to fsync.
class HexNetFileExport::FdBuf : public std::streambuf {
public:
    explicit FdBuf(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

protected:
    int_type overflow(int_type ch) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain() {
        const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
        const bool ok = WriteAll(fd_, pbase(), size);
        setp(buffer_, buffer_ + sizeof buffer_);
        return ok;
    }

    int fd_;
    char buffer_[4096];
};

bool ParseFlashBank(std::string_view name, std::uint16_t& address) {
    for (int n = 0; n < FLASH_BANK_COUNT; ++n) {
        const std::string_view bank = FLASH_BANK_NAMES[n];
        if (bank.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < bank.size() && same; ++k) {
            char c = name[k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            same = c == bank[k];
        }
        if (same) {
            address = static_cast<std::uint16_t>(FLASH_BANK_FIRST + n * FLASH_BANK_SIZE);
            return true;
        }
    }
    return false;
}

const char* HexFileSuffix(HexFileFormat format) {
    return format == FORMAT_HEX ? "hex" : "s19";
}

void WriteHexByte(std::ostream& out, std::uint8_t byte, std::uint8_t& checksum) {
    char text[3];
    std::snprintf(text, sizeof text, "%2.2X", byte);
    out.write(text, 2);
    checksum = static_cast<std::uint8_t>(checksum + byte);
}

bool WriteHexNetRecords(std::ostream& out, const ModuleWeights& weights, std::uint16_t startAddress,
                        HexFileFormat format) {
    const std::uint8_t marker = BANK_MARKER;
    WriteRecord(out, format, startAddress, &marker, 1);
    if (!out) return false;
    for (int r = 0; r < HEX_WEIGHT_RECORD_COUNT; ++r) {
        std::uint8_t data[2 * HEX_WEIGHTS_PER_RECORD];
        for (int k = 0; k < HEX_WEIGHTS_PER_RECORD; ++k) {
            // The module stores the two's complement, high byte first.
            const auto word = static_cast<std::uint16_t>(weights[HEX_WEIGHTS_PER_RECORD * r + k]);
            data[2 * k] = static_cast<std::uint8_t>(word >> 8);
            data[2 * k + 1] = static_cast<std::uint8_t>(word & 0xFF);
        }
        const auto address = static_cast<std::uint16_t>(startAddress + 1 + sizeof data * r);
        WriteRecord(out, format, address, data, sizeof data);
        if (!out) return false;
    }
    return true;
}

bool WriteHexEndRecord(std::ostream& out, HexFileFormat format) {
    out << (format == FORMAT_S19 ? kS19EndRecord : kHexEndRecord) << kLineEnd;
    return static_cast<bool>(out);
}

bool WriteHexNetFile(std::ostream& out, const ModuleWeights& weights, std::uint16_t startAddress,
                     HexFileFormat format) {
    return WriteHexNetRecords(out, weights, startAddress, format) && WriteHexEndRecord(out, format);
}

const char* HexExportResultText(HexExportResult result) {
    switch (result) {
        case HexExportResult::Ok:
            return "";
        case HexExportResult::OpenFailed:
            return "Error opening file";
        case HexExportResult::WriteFailed:
            return "Error writing file";
    }
    return "";
}

std::string HexExportSuccessText(const std::string& path, std::uint16_t startAddress) {
    char address[8];
    std::snprintf(address, sizeof address, "%4.4X", static_cast<unsigned>(startAddress));
    return "Weights saved in file " + path + ", start adress " + address;
}

HexNetFileExport::HexNetFileExport(std::string path) : path_(std::move(path)) {}

HexNetFileExport::~HexNetFileExport() {
    Discard();
}

HexExportResult HexNetFileExport::Open() {
    if (fd_ >= 0 || path_.empty()) return HexExportResult::OpenFailed;

    // Replace the file a symbolic link points to, not the link: that is the file an
    // ordinary write would have changed.
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(path_), error);
    target_ = error ? path_ : resolved.string();

    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        // A device or a pipe cannot be swapped for a new file; directories fail here.
        fd_ = OpenInPlace(target_);
        if (fd_ < 0) return HexExportResult::OpenFailed;
        direct_ = true;
    } else {
        fd_ = CreateReplacement(target_, exists ? &existing : nullptr, tempPath_);
        if (fd_ < 0) return HexExportResult::OpenFailed;
    }
    buf_ = std::make_unique<FdBuf>(fd_);
    out_ = std::make_unique<std::ostream>(buf_.get());
    return HexExportResult::Ok;
}

bool HexNetFileExport::WriteRecords(const ModuleWeights& weights, std::uint16_t startAddress,
                                    HexFileFormat format) {
    if (!out_ || failed_ || recordsWritten_) {
        failed_ = true;
        return false;
    }
    format_ = format;
    recordsWritten_ = true;
    if (!WriteHexNetRecords(*out_, weights, startAddress, format)) failed_ = true;
    return !failed_;
}

HexExportResult HexNetFileExport::Finish() {
    if (!out_) return HexExportResult::OpenFailed;
    bool ok = recordsWritten_ && !failed_;
    if (ok) ok = WriteHexEndRecord(*out_, format_);
    if (ok) ok = static_cast<bool>(out_->flush());
    // Only a regular file can be synced; a device reports EINVAL, which says nothing.
    if (ok && !direct_) ok = SyncFile(fd_);
    out_.reset();
    buf_.reset();
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) ok = false;
    if (ok && !direct_) {
        ok = CommitReplacement(tempPath_, target_);
        if (ok) tempPath_.clear();
    }
    failed_ = !ok;
    Discard();
    return ok ? HexExportResult::Ok : HexExportResult::WriteFailed;
}

void HexNetFileExport::Discard() {
    out_.reset();
    buf_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

HexExportResult ExportHexNetFile(const std::string& path, const ModuleWeights& weights,
                                 std::uint16_t startAddress, HexFileFormat format) {
    HexNetFileExport file(path);
    const HexExportResult opened = file.Open();
    if (opened != HexExportResult::Ok) return opened;
    file.WriteRecords(weights, startAddress, format);
    return file.Finish();
}
