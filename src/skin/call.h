// Calling 32-bit code known only by its address, and naming data with the
// 32-bit addresses such code understands.
#pragma once

#include "skin/platform.h"

#include <cstdint>
#include <span>
#include <string>

namespace kestrova::skin {

/// Calls `routine` with exactly ten words on the stack (a1 at the lowest
/// address) on `platform`, and returns its 32-bit result. The caller's stack
/// is restored afterwards, so stdcall and cdecl routines alike may be called.
/// No test is made of the address.
std::uint32_t call_by_address(PlatformOperations& platform, Address routine,
                              const CallWords& words);

/// The same on the process's platform.
std::uint32_t call_by_address(Address routine, std::uint32_t a1 = 0, std::uint32_t a2 = 0,
                              std::uint32_t a3 = 0, std::uint32_t a4 = 0, std::uint32_t a5 = 0,
                              std::uint32_t a6 = 0, std::uint32_t a7 = 0, std::uint32_t a8 = 0,
                              std::uint32_t a9 = 0, std::uint32_t a10 = 0);

/// Address of the first byte; 0 when the array is empty, and also when it
/// lies where no 32-bit address reaches (rather than a cut-off address).
Address bytes_address(std::span<const std::byte> bytes);

/// Address of the first character; 0 when the text is empty (never the
/// address of an empty string), and also when no 32-bit address reaches it.
Address text_address(const std::string& text);

} // namespace kestrova::skin
