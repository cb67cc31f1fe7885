// The program's command line: --help and --version, answered before any
// display is needed. Quellan takes no other options or arguments.
#pragma once

#include <optional>
#include <string>

namespace quellan::qt {

/// What the command line asks before the program runs.
struct CommandLineAnswer {
    /// Set when the program is to end at once with this status: 0 for
    /// --help and --version, 2 for an option or argument it does not take.
    std::optional<int> exitStatus;
    /// What to print: on standard output for a status of 0, on standard error otherwise.
    std::string text;
};

/// Reads `argc` and `argv`; `version` is the program's own.
CommandLineAnswer readCommandLine(int argc, const char* const* argv, const std::string& version);

} // namespace quellan::qt
