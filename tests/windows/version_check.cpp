// qk42rt_version_check DLL: reads the DLL's version resource back through the version API,
// as installers and hosts do, and compares it with what the DLL has always carried.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "check.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: qk42rt_version_check DLL\n", stderr);
        return 2;
    }
    qk42rt_wintest::Checks c;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    std::vector<char> block(size);
    if (!c.expect(size > 0 && GetFileVersionInfoA(argv[1], 0, size, block.data()),
                  "the DLL carries a version resource")) {
        return 1;
    }

    struct Expected {
        const char* name;
        const char* value;
    };
    const Expected strings[] = {
        {"FileVersion", "1, 0, 0, 1"},      {"ProductVersion", "1, 0, 0, 1"},
        {"FileDescription", "QK42RT DLL"},  {"InternalName", "QK42RT"},
        {"OriginalFilename", "QK42RT.DLL"},
    };
    for (const Expected& e : strings) {
        char query[96];
        std::snprintf(query, sizeof query, "\\StringFileInfo\\041204B0\\%s", e.name);
        void* found = nullptr;
        UINT length = 0;
        const bool present = VerQueryValueA(block.data(), query, &found, &length) && found;
        const char* text = present ? static_cast<const char*>(found) : "(missing)";
        char line[160];
        std::snprintf(line, sizeof line, "%s is \"%s\" (read \"%s\")", e.name, e.value, text);
        c.expect(present && std::strcmp(text, e.value) == 0, line);
    }

    void* found = nullptr;
    UINT length = 0;
    const bool has_translation =
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &found, &length) &&
        length == 2 * sizeof(WORD);
    WORD translation[2] = {0, 0};
    if (has_translation) std::memcpy(translation, found, sizeof translation);
    c.expect(has_translation && translation[0] == 0x0412 && translation[1] == 1200,
             "the one translation is 0x0412, code page 1200");

    VS_FIXEDFILEINFO fixed{};
    if (VerQueryValueA(block.data(), "\\", &found, &length) && length >= sizeof fixed) {
        std::memcpy(&fixed, found, sizeof fixed);
    }
    c.expect(fixed.dwFileVersionMS == 0x00010000 && fixed.dwFileVersionLS == 0x00000001 &&
                 fixed.dwProductVersionMS == 0x00010000 && fixed.dwProductVersionLS == 0x00000001,
             "the fixed file and product versions are 1.0.0.1");
    return c.exit_status();
}
