// Help for a mistyped command line: the known option nearest to an unknown one, and the
// space where an '=' belongs.
#pragma once

#include <string>
#include <vector>

namespace tavo {

// The options every front end takes (the start-up options, --help, --version).
const std::vector<std::string>& StartupOptionNames();

// "unknown option --chek (did you mean --check?)"; without the hint when no known option
// is near. known: the options the program takes.
std::string UnknownOptionError(const std::string& arg, const std::vector<std::string>& known);

// When arg is a word that follows a bare --emulate (which takes its profiles only after
// '='): "--emulate takes its profiles after '=': did you mean --emulate=bad-verify?";
// empty otherwise.
std::string EmulateSpaceError(const std::string& previous, const std::string& arg);

}  // namespace tavo
