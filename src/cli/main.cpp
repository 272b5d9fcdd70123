// pelkora-cli: the headless front door to the tool's libraries.

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

    std::vector<CliCommand> commands;
    for (auto add : {AddSimulateCommand, AddLinkCommands, AddExportCommand, AddQuantizeCommand,
                     AddImageCommands, AddTrainCommand}) {
        for (CliCommand& c : add(app)) commands.push_back(std::move(c));
    }

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
