// The skin step of the start routine: the carried skin engine is loaded
// from memory and handed the carried skin, before any window exists. The
// engine checks the skin's header and passes its style sheet back to the
// program through the host library routine "SetApplicationStyleSheet". Any
// failure is silent and leaves the platform's own look.
#pragma once

#include "skin/memory_module.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kestrova::skin {

/// The skin engine image: a PE32 DLL exporting "SkinH_AttachRes".
std::span<const std::byte> skin_engine_image();

/// The skin: ".SHE" 0x00 0x03, then Kestrova's Qt style sheet (UTF-8). It
/// lies read-only in guest memory and stays in place for the whole run;
/// empty when no such memory could be had.
std::span<const std::byte> skin_data();

inline constexpr std::string_view skin_export_name = "SkinH_AttachRes";

/// The host library routine through which the engine hands over a style
/// sheet: stdcall (address of the sheet, its length in bytes) → 1 when it
/// was applied, 0 otherwise.
inline constexpr std::string_view style_sheet_routine = "SetApplicationStyleSheet";

/// Applies a style sheet; gets its bytes and the guest address they came from.
using StyleSheetSink = std::function<bool(std::string_view sheet, Address address)>;

/// Makes the host library's style sheet routine hand what the engine passes
/// to `sink`, replacing an earlier sink. False when no thunk could be made.
bool serve_style_sheet_routine(StyleSheetSink sink);

/// Calls the engine's "SkinH_AttachRes" with the skin's address and length,
/// the text's address (0 for an empty text) and the three integers, followed
/// by four zero words; returns its result unchanged. Without that export
/// (engine not loaded, or no such name) nothing is called and the result is 0.
std::uint32_t attach_skin(const MemoryModule& module, std::span<const std::byte> skin,
                          const std::string& text = {}, std::uint32_t integer1 = 0,
                          std::uint32_t integer2 = 0, std::uint32_t integer3 = 0);

/// attach_skin with skin_data() and every optional argument omitted.
void apply_embedded_skin(const MemoryModule& module);

/// Loads `engine_image` into `module` (no resolver), then applies the
/// embedded skin; both results are ignored.
void skin_step(MemoryModule& module, std::span<const std::byte> engine_image = skin_engine_image());

} // namespace kestrova::skin
