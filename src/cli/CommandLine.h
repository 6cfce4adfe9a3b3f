#pragma once

// What every program here does with its command line, on top of CLI11: `--opt value` and
// `--opt=value`, -h/--help and -V/--version, the last of a repeated option wins, and a usage
// error is one line naming the problem.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

enum class TOutcome { Run, Help, Version, Error };

struct TParsed {
    TOutcome Outcome = TOutcome::Run;
    std::string Text; // Error: the problem, in one line; Version: the version line
};

// -h,--help, and `versionFlag` that prints `version` ("PROGRAM VERSION"). The help begins with
// `usage` (the "Usage: ..." lines and what the program does), then the options, then the app's
// footer.
void Conventions(CLI::App& app, const std::string& version, std::string usage,
                 const std::string& versionFlag = "-V,--version");

// `args` without the program name. An argument no option takes is an error.
TParsed Parse(CLI::App& app, const std::vector<std::string>& args);
TParsed Parse(CLI::App& app, int argc, const char* const* argv);

// "PROGRAM: ERROR" and "Run with --help for more." on `to`.
void PrintUsageError(std::FILE* to, const char* program, const std::string& error);

// A check with the reason a value is refused, shown as "--opt: REASON".
CLI::Validator OneOf(std::vector<std::string> values, std::string reason);
CLI::Validator NotEmpty();

} // namespace cli
