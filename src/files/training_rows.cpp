#include "files/training_rows.h"

#include <array>
#include <charconv>
#include <fstream>
#include <string_view>

namespace {

constexpr int kColumns = NET_INPUT_COUNT + NET_OUTPUT_COUNT;

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos == line.size()) break;
        const std::size_t end = line.find_first_of(" \t", pos);
        const std::size_t stop = end == std::string_view::npos ? line.size() : end;
        fields.push_back(line.substr(pos, stop - pos));
        pos = stop;
    }
    return fields;
}

std::string Quoted(std::string_view field) {
    constexpr std::size_t kMaxQuoted = 40;
    // Appended piece by piece: GCC 12 warns falsely about operator+ chains here.
    std::string quoted(1, '\'');
    quoted.append(field.substr(0, kMaxQuoted));
    if (field.size() > kMaxQuoted) quoted.append("...");
    quoted.push_back('\'');
    return quoted;
}

bool IsNumber(std::string_view field) {
    int value = 0;
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && end == field.data() + field.size();
}

std::string ColumnName(int c) {
    return c < NET_INPUT_COUNT ? "in" + std::to_string(c + 1)
                               : "out" + std::to_string(c - NET_INPUT_COUNT + 1);
}

}  // namespace

TrainingRowsRead ReadTrainingRows(std::istream& in, const std::string& name) {
    TrainingRowsRead read;
    auto fail = [&](long line, const std::string& reason) {
        read.ok = false;
        read.error = name + ": line " + std::to_string(line) + ": " + reason;
        return read;
    };
    // Which field holds each of the 16 columns, and how many fields a line has;
    // without a header the 16 values stand in column order.
    std::array<std::size_t, kColumns> column{};
    for (int c = 0; c < kColumns; ++c) column[c] = static_cast<std::size_t>(c);
    std::size_t width = kColumns;
    bool first = true;
    std::string text;
    long lineNumber = 0;
    while (std::getline(in, text)) {
        ++lineNumber;
        std::string_view line(text);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.empty()) continue;
        if (first) {
            first = false;
            if (!IsNumber(fields[0])) {
                for (int c = 0; c < kColumns; ++c) {
                    std::size_t f = 0;
                    while (f < fields.size() && fields[f] != ColumnName(c)) ++f;
                    if (f == fields.size())
                        return fail(lineNumber, "header has no " + ColumnName(c));
                    column[c] = f;
                }
                width = fields.size();
                continue;
            }
        }
        if (fields.size() != width) {
            return fail(lineNumber, std::to_string(fields.size()) + " values, expected " +
                                        std::to_string(width));
        }
        TrainingRow row;
        for (int c = 0; c < kColumns; ++c) {
            const std::string_view field = fields[column[c]];
            int value = -1;
            const auto [end, ec] =
                std::from_chars(field.data(), field.data() + field.size(), value);
            if (ec != std::errc() || end != field.data() + field.size() || value < 0 ||
                value > 255) {
                return fail(lineNumber, ColumnName(c) + " is " + Quoted(field) + ", not 0..255");
            }
            (c < NET_INPUT_COUNT ? row.in[c] : row.out[c - NET_INPUT_COUNT]) =
                static_cast<std::uint8_t>(value);
        }
        read.rows.push_back(row);
    }
    if (in.bad()) {
        read.ok = false;
        read.error = name + ": read error";
    }
    return read;
}

TrainingRowsRead ReadTrainingRows(const std::vector<std::string>& paths) {
    TrainingRowsRead all;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            all.ok = false;
            all.error = path + ": cannot open";
            return all;
        }
        TrainingRowsRead one = ReadTrainingRows(in, path);
        if (!one.ok) {
            one.rows.clear();
            return one;
        }
        all.rows.insert(all.rows.end(), one.rows.begin(), one.rows.end());
    }
    return all;
}
