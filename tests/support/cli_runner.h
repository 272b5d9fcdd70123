#pragma once
// Runs pelkora-cli (path from $PELKORA_CLI, set by CTest) as a child process with
// the given stdin text, capturing its stdout, stderr and exit code.

#include <sys/wait.h>

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

inline std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

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
    const std::string cmd = ShellQuote(cli ? cli : "pelkora-cli") + " " + args + " <" +
                            ShellQuote(in) + " >" + ShellQuote((dir / "out").string()) + " 2>" +
                            ShellQuote((dir / "err").string());
    const int status = std::system(cmd.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadWholeFile(dir / "out");
    run.err = ReadWholeFile(dir / "err");
    fs::remove_all(dir);
    return run;
}

inline CliRun RunCli(const std::string& args, const std::string& stdinText = "") {
    return RunCliFrom(args, stdinText, "");
}
