#pragma once

#include "relay/networks/SandboxStore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillet::relay {

// A PNG picture ready for the store, with its entity tag.
StoredPicture PngPicture(std::string bytes);

// Draws the two avatar sizes of a user, names them after the network and the user's id and
// sets the user's avatar names.
std::vector<NamedPicture> MakeAvatars(const std::string& network, SandboxUser& user);

// The demo of one network: eight users ("demo" among them), follows both ways, a hundred
// statuses with every kind of block, pictures, comments and a few undelivered notifications
// for "demo". Every user's password hash is passwordHash; times end shortly before now.
DemoNetwork BuildDemoNetwork(const std::string& network, int64_t now,
                             const std::string& passwordHash);

} // namespace quillet::relay
