#pragma once
// morvane-stxc: compiles a highlighter script. With -o it writes the compiled (stored) form, as
// the build does for the built-in highlighters; without, it only checks the script. Errors are
// printed as "FILE:LINE:COLUMN: message".

#include <iosfwd>
#include <string>
#include <vector>

namespace morvane::tools {

// args excludes the program name. Returns the exit code: 0 done, 1 the script has an error or
// the output cannot be written, 2 a usage error.
int runStxc(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace morvane::tools
