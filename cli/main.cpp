#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "core/Version.h"

namespace {
// What a command printed must have reached stdout: a full disk or a closed
// file behind it would otherwise pass for an empty, successful run.
int CheckStdout(int exitCode) {
    errno = 0;
    bool flushed = std::fflush(stdout) == 0;
    int error = errno;
    if (flushed && !std::ferror(stdout)) return exitCode;
    std::fprintf(stderr, "tarnwell: could not write the output%s%s\n", flushed || error == 0 ? "" : ": ",
                 flushed || error == 0 ? "" : std::strerror(error));
    return exitCode == tarnwell::cli::kExitOk ? tarnwell::cli::kExitErrors : exitCode;
}
}  // namespace

int main(int argc, char** argv) {
    tarnwell::cli::InstallInterruptHandlers();
    CLI::App app{"Tarnwell: read-only recovery of files from disks, cards and images"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tarnwell ") + tarnwell::kVersionText);

    // Taken before a command runs, wherever they stand on the line.
    app.fallthrough();
    auto* verbose = app.add_flag_callback(
        "-v,--verbose", [] { tarnwell::cli::SetVerbosity(tarnwell::cli::Verbosity::Verbose); },
        "Print each phase of the work on stderr");
    auto* quiet = app.add_flag_callback(
        "-q,--quiet", [] { tarnwell::cli::SetVerbosity(tarnwell::cli::Verbosity::Quiet); },
        "Print only errors on stderr: no bar, no warnings");
    verbose->trigger_on_parse()->excludes(quiet);
    quiet->trigger_on_parse();

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
        return CheckStdout(rc == 0 ? 0 : tarnwell::cli::kExitUsage);
    }
    // A stop signal that came while no job could take it still makes the run a stopped one.
    if (tarnwell::cli::Interrupted() && exitCode == tarnwell::cli::kExitOk) exitCode = tarnwell::cli::kExitErrors;
    return CheckStdout(exitCode);
}
