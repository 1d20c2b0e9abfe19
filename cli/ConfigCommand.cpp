#include "cli/ConfigCommand.h"

#include "core/Global.h"

namespace quillet {

int RunConfig(std::ostream& out) {
    for (const auto& [key, value] : ConfigValues())
        out << key << '=' << value << '\n';
    return 0;
}

} // namespace quillet
