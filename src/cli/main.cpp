// pelkora-cli: the headless front door to the tool's libraries.

#include <csignal>
#include <cstdio>
#include <string>

#include "cli/commands.h"

#ifndef PELKORA_VERSION
#define PELKORA_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    CLI::App app{"Pelkora Development Tool, command line", "pelkora-cli"};
    app.set_version_flag("--version", PELKORA_VERSION);
    app.require_subcommand(1);

#ifdef SIGPIPE
    // A reader that went away is a write error with its message and exit code, not
    // a silent death that leaves a --link or a half-told result behind.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::vector<CliCommand> commands = AddAllCommands(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    for (const CliCommand& c : commands) {
        if (c.app->parsed()) return c.run();
    }
    return kExitUsage;
}
