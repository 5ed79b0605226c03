// The commands of the package generator `usb-iap-pack`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace iap::pack {

// Runs the tool with the arguments after the program name. Normal output
// goes to out, errors and warnings to err. Returns the exit code: 0 on
// success, 1 when an input is bad or a file cannot be read or written, 2 on
// a command line that cannot be understood.
int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The individual commands (the arguments after the command name).
int buildCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int inspectCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int skinCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace iap::pack
