// The fixture DLLs cross-built for the tests, and the routines the tests add
// to the program's host library for them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrova::skin::testing {

/// Bytes of fixture NAME.dll (exports, host_imports, needs_other, refuses).
std::vector<std::byte> fixture(const std::string& name);
std::string fixture_path(const std::string& name);

/// Host library routines for the fixtures: TestHostAdd (a + b),
/// TestHostTwice (ordinal 42, 2 × a), TestHostNote (records a, returns 1).
void install_test_host_routines();
std::vector<std::uint32_t>& host_notes();

} // namespace kestrova::skin::testing
