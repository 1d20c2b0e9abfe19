#pragma once

#include <ostream>

namespace quillet {

// `quillet-cli config`: every configuration value as one "Key=Value" line.
int RunConfig(std::ostream& out);

} // namespace quillet
