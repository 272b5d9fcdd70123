#pragma once
// Runs pelkora-cli (path from $PELKORA_CLI, set by CTest) as a child process with
// the given stdin text, capturing its stdout, stderr and exit code.

#ifndef _WIN32
#include <sys/wait.h>
#endif
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

#ifdef _WIN32
// cmd.exe: double quotes; no name the tests use has one in it.
inline std::string ShellQuote(const std::string& s) {
    return '"' + s + '"';
}
#else
inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}
#endif

inline std::string ReadWholeFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// `args` is pasted into a shell command line: quote anything unusual with ShellQuote.
// stdin is read from `stdinPath` when it is given, else from a file of `stdinText`.
inline CliRun RunCliFrom(const std::string& args, const std::string& stdinText,
                         const std::string& stdinPath) {
    namespace fs = std::filesystem;
    const char* cli = std::getenv("PELKORA_CLI");
    const fs::path dir =
        fs::temp_directory_path() /
        ("pelkora-cli-run-" + std::to_string(::getpid()) + "-" + std::to_string(std::rand()));
    fs::create_directories(dir);
    std::ofstream(dir / "in", std::ios::binary) << stdinText;
    const std::string in = stdinPath.empty() ? (dir / "in").string() : stdinPath;
    std::string program = cli ? cli : "pelkora-cli";
#ifdef _WIN32
    // CTest under Wine names the program by its Linux path; Wine's drive Z: is /.
    if (!program.empty() && program[0] == '/') program = "Z:" + program;
#endif
    std::string cmd = ShellQuote(program) + " " + args + " <" + ShellQuote(in) + " >" +
                      ShellQuote((dir / "out").string()) + " 2>" +
                      ShellQuote((dir / "err").string());
#ifdef _WIN32
    cmd = '"' + cmd + '"';  // cmd /c drops the outer pair of quotes
#endif
    const int status = std::system(cmd.c_str());
    CliRun run;
#ifdef _WIN32
    run.exitCode = status;
#else
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.out = ReadWholeFile(dir / "out");
    run.err = ReadWholeFile(dir / "err");
#ifdef _WIN32
    // The console's text mode ends lines in CR LF; the tests compare Linux's lines.
    for (std::string* text : {&run.out, &run.err}) {
        std::string plain;
        for (std::size_t i = 0; i < text->size(); ++i) {
            if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
            plain += (*text)[i];
        }
        *text = plain;
    }
#endif
    fs::remove_all(dir);
    return run;
}

inline CliRun RunCli(const std::string& args, const std::string& stdinText = "") {
    return RunCliFrom(args, stdinText, "");
}
