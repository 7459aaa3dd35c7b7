// Parsing the command line of ktq against the option and command tables.
#pragma once

#include <string>
#include <vector>

#include "cli/cli.h"

namespace ktq::cli {

struct ParsedCommandLine {
  const Command* command = nullptr;  // null: none given
  std::vector<std::string> arguments;
};

// Fills GlobalOptions() and `parsed`. Options may stand anywhere; "--" ends
// them. False with `error` set for an unknown option or command, a missing
// or bad value, or an option the command does not take.
bool ParseCommandLine(int argc, const char* const* argv, const CommandTable& table, ParsedCommandLine& parsed,
                      std::string& error);

// `ktq --help`, `ktq COMMAND --help`, the man page and the bash completion,
// printed from the tables.
void PrintHelp(std::FILE* out, const CommandTable& table);
void PrintCommandHelp(std::FILE* out, const Command& command);
void PrintManPage(std::FILE* out, const CommandTable& table);
void PrintBashCompletion(std::FILE* out, const CommandTable& table);

}  // namespace ktq::cli
