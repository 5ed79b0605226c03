// The commands of the package generator `usb-iap-pack`.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace iap::pack {

struct BuildOptions;

// Runs the tool with the arguments after the program name. Normal output
// goes to out, errors and warnings to err. Returns the exit code: 0 on
// success, 1 when an input is bad or a file cannot be read or written, 2 on
// a command line that cannot be understood.
int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The individual commands, on options already parsed.
int buildCommand(BuildOptions o, std::ostream& out, std::ostream& err);
int inspectCommand(const std::filesystem::path& file, std::ostream& out, std::ostream& err);
int skinCommand(const std::filesystem::path& dir, std::ostream& out, std::ostream& err);

}  // namespace iap::pack
