#include <cstdio>

#include "cli/Commands.h"

int main(int argc, char** argv) {
    CLI::App app{"Tarnwell: read-only recovery of files from disks, cards and images"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tarnwell ") + tarnwell::cli::kVersion);

    int exitCode = tarnwell::cli::kExitOk;
    tarnwell::cli::AddDrivesCommand(app, exitCode);
    tarnwell::cli::AddCarveCommand(app, exitCode);
    tarnwell::cli::AddSignaturesCommand(app, exitCode);
    tarnwell::cli::AddVolumesCommand(app, exitCode);
    tarnwell::cli::AddListCommand(app, exitCode);
    tarnwell::cli::AddSearchCommand(app, exitCode);
    tarnwell::cli::AddRecoverCommand(app, exitCode);
    tarnwell::cli::AddCandidatesCommand(app, exitCode);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);
        return rc == 0 ? 0 : tarnwell::cli::kExitUsage;
    }
    return exitCode;
}
