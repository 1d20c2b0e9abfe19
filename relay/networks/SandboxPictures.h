#pragma once

#include <cstdint>
#include <string>

namespace quillet::relay {

// PNG bytes of an RGB picture (3 bytes a pixel, rows top to bottom).
std::string EncodePng(int width, int height, const std::string& rgb);

// A square avatar drawn from the seed: the same seed always gives the same picture.
std::string AvatarPng(uint32_t seed, int size);

// A small landscape drawn from the seed, for pictures attached to statuses.
std::string LandscapePng(uint32_t seed, int width, int height);

} // namespace quillet::relay
