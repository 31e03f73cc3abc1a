#pragma once
// Each command of `tarnwell` lives in its own file and registers itself here.
// A command's run sets the process exit code: 0 done, 1 done with errors,
// 2 bad usage or a source that cannot be opened.

#include <CLI/CLI.hpp>

namespace tarnwell::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitErrors = 1;
inline constexpr int kExitUsage = 2;

void AddDrivesCommand(CLI::App& app, int& exitCode);
void AddCarveCommand(CLI::App& app, int& exitCode);
void AddSignaturesCommand(CLI::App& app, int& exitCode);
void AddVolumesCommand(CLI::App& app, int& exitCode);
void AddListCommand(CLI::App& app, int& exitCode);
void AddSearchCommand(CLI::App& app, int& exitCode);
void AddRecoverCommand(CLI::App& app, int& exitCode);
void AddCandidatesCommand(CLI::App& app, int& exitCode);

}  // namespace tarnwell::cli
