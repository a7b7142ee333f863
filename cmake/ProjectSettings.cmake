# Project-wide settings carried by one INTERFACE target that every target links.
add_library(kestrova_settings INTERFACE)
target_compile_features(kestrova_settings INTERFACE cxx_std_20)
target_compile_options(kestrova_settings INTERFACE -Wall -Wextra -Wpedantic)
if(KESTROVA_WERROR)
    target_compile_options(kestrova_settings INTERFACE -Werror)
endif()

# Every conversion between code page 936 bytes and QString must be explicit.
target_compile_definitions(kestrova_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_KEYWORDS)

if(KESTROVA_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_compile_options(kestrova_settings INTERFACE ${_san})
    target_link_options(kestrova_settings INTERFACE ${_san})
endif()
if(KESTROVA_TSAN)
    target_compile_options(kestrova_settings INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(kestrova_settings INTERFACE -fsanitize=thread)
endif()

# libFuzzer needs coverage instrumentation in the library code too, not only in
# the fuzz target.
if(KESTROVA_LIBFUZZER)
    target_compile_options(kestrova_settings INTERFACE -fsanitize=fuzzer-no-link)
endif()
