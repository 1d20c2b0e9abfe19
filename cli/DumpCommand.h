#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillet {

// `quillet-cli dump [--json] FILE`: reads FILE ("-" for In) as a relay reply and prints the tree
// the client reads from it. 0 on success, 1 when no tree can be read (one line on Err), 2 for
// wrong arguments.
int RunDump(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
            std::ostream& err);

} // namespace quillet
