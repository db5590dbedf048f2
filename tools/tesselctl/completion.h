// Shell completion for tesselctl, written from the command line definition
// itself so that it always lists the subcommands and options there are.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace tesselctl {

// A bash completion script for `app`: subcommands and options by position,
// and item paths (through "tesselctl ls") for words that begin with "/".
std::string BashCompletion(CLI::App& app);

}  // namespace tesselctl
