/* Kestrova's skin engine: a PE32 DLL without the C runtime, carried by the
 * program as data and loaded from memory at start-up. Its one export,
 * SkinH_AttachRes, checks the skin's header and hands the style sheet that
 * follows it to the program through the host library. */

typedef unsigned int u32;
typedef unsigned char u8;

/* Host library (kestrova_host.dll): applies a style sheet to the program. */
__declspec(dllimport) u32 __stdcall SetApplicationStyleSheet(const char* sheet, u32 length);

#define SKIN_HEADER_SIZE 6
static const u8 skin_header[SKIN_HEADER_SIZE] = {'.', 'S', 'H', 'E', 0x00, 0x03};

int __stdcall DllMain(void* module, u32 reason, void* reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}

static int has_skin_header(const u8* skin, u32 size) {
    if (skin == 0 || size < SKIN_HEADER_SIZE)
        return 0;
    for (u32 i = 0; i < SKIN_HEADER_SIZE; ++i)
        if (skin[i] != skin_header[i])
            return 0;
    return 1;
}

/* The password and the hue, saturation and brightness shifts of the vendor's
 * interface have no meaning for a style sheet and are ignored. Returns 1 when
 * the program took the style sheet, 0 otherwise. */
u32 __stdcall SkinH_AttachRes(const u8* skin, u32 size, const char* password, int hue,
                              int saturation, int brightness) {
    (void)password;
    (void)hue;
    (void)saturation;
    (void)brightness;
    if (!has_skin_header(skin, size))
        return 0;
    return SetApplicationStyleSheet((const char*)skin + SKIN_HEADER_SIZE,
                                    size - SKIN_HEADER_SIZE) != 0;
}
