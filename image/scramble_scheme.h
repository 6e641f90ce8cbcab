// The three constants of the bank scrambling scheme. They are fixed for the scheme: an image
// scrambled under one set of values descrambles correctly only under the same set, so the
// packer and Descramble both take them from here and they must never change.
#pragma once

#include <cstdint>

namespace tavo::scramble {

inline constexpr uint8_t kSeedOffset = 0x5A;
inline constexpr uint8_t kPositionStep = 0x1D;
inline constexpr uint8_t kKeyMultiplier = 0x3B;

}  // namespace tavo::scramble
