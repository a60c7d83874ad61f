// Each subcommand of `tpk` registers itself on the application. Its callback
// prints one JSON object on standard output and sets `exitCode`.
#pragma once

#include <CLI/CLI.hpp>

namespace qalv::tpk {

void AddCertCommand(CLI::App& app, int& exitCode);
void AddInspectCommand(CLI::App& app, int& exitCode);
void AddVerifySignatureCommand(CLI::App& app, int& exitCode);
void AddCaCommand(CLI::App& app, int& exitCode);
void AddPackCommand(CLI::App& app, int& exitCode);
void AddChainCommand(CLI::App& app, int& exitCode);
void AddCheckCertCommand(CLI::App& app, int& exitCode);
void AddUnsealCommand(CLI::App& app, int& exitCode);
void AddVerifyCommand(CLI::App& app, int& exitCode);
void AddHintCommand(CLI::App& app, int& exitCode);

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailedCheck = 1;
inline constexpr int kExitUsage = 2;

}  // namespace qalv::tpk
