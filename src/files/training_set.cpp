#include "files/training_set.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/file_platform.h"
#include "files/file_reading.h"
#include "os/io.h"

namespace {

constexpr const char* kHeaderLine =
    "in1\tin2\tin3\tin4\tin5\tin6\tin7\tin8\t"
    "out1\tout2\tout3\tout4\tout5\tout6\tout7\tout8\r\n";

}  // namespace

std::string TrainingFileName(std::uint16_t number) {
    char name[32];
    std::snprintf(name, sizeof name, TRAINING_FILE_FORMAT, static_cast<int>(number));
    return name;
}

std::uint16_t NextTrainingFileNumber(std::uint16_t number) {
    return static_cast<std::uint16_t>(number + 1);  // 65535 wraps to 0
}

std::uint16_t PreviousTrainingFileNumber(std::uint16_t number) {
    return number > 0 ? static_cast<std::uint16_t>(number - 1) : 0;
}

const char* TrainingFileResultText(FileResult result) {
    if (result == FileResult::OpenFailed) return "File opening failed. Check file name...";
    return FileResultText(result);
}

std::string TrainingSetLine(const TrainingSet& values) {
    std::string line;
    for (std::size_t n = 0; n < values.size(); ++n) {
        if (n > 0) line += '\t';
        line += std::to_string(values[n]);
    }
    line += "\r\n";
    return line;
}

std::string TrainingHeaderLine() {
    return kHeaderLine;
}

FileResult AppendTrainingSet(const std::string& path, const TrainingSet& values) {
    struct stat before {};
    const bool existed = ::stat(path.c_str(), &before) == 0;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | kFileOpenFlags, 0666));
    if (!fd) return FileResult::OpenFailed;

    // Everything of one store in one write, so a reader never sees half a line
    // from a store that went well.
    const std::string text =
        (existed ? std::string() : TrainingHeaderLine()) + TrainingSetLine(values);
    const AppendMark mark(fd.get());
    bool ok = WriteAll(fd.get(), text.data(), text.size()) == 0;
    if (!ok && mark.Regular()) {
        // Give back what this store added, and drop a file this store created so the
        // next one writes the header. Through a dangling link that file is the
        // link's target: the link stays.
        if (existed) {
            mark.TakeBack();
        } else {
            RemoveCreatedFile(path, fd.get());
        }
    }
    if (::close(fd.release()) != 0) ok = false;
    return ok ? FileResult::Ok : FileResult::WriteFailed;
}

long CountTrainingRows(const std::string& path) {
    // The window counts on its UI thread: only a regular file is read (a FIFO or a
    // device there could make it wait), and through the one bounded reader.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return 0;
    BoundedFileStream in;
    if (in.Open(path) != FileResult::Ok) return 0;
    long lines = 0;
    bool header = false;
    bool first = true;
    char last = '\n';
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        const std::streamsize count = in.gcount();
        if (first && count > 0) {
            header = chunk[0] < '0' || chunk[0] > '9';
            first = false;
        }
        lines += std::count(chunk, chunk + count, '\n');
        last = chunk[count - 1];
    }
    if (last != '\n') ++lines;  // a last line without its end
    return header && lines > 0 ? lines - 1 : lines;
}
