# QK42RT.DLL for Windows hosts: the twenty functions at their ordinals and nothing else,
# the version resource, and no compiler runtime DLL beside it (only KERNEL32, USER32 and the
# C runtime that ships with Windows).
target_sources(qk42rt PRIVATE ${PROJECT_SOURCE_DIR}/src/exports/version.rc)
target_compile_definitions(qk42rt PRIVATE QK42RT_BUILDING)
set_target_properties(qk42rt PROPERTIES
    OUTPUT_NAME QK42RT
    PREFIX ""
    IMPORT_PREFIX ""
    IMPORT_SUFFIX ".lib"
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/include/qk42rt.def)
target_link_options(qk42rt PRIVATE
    ${PROJECT_SOURCE_DIR}/include/qk42rt.def
    -static -static-libgcc -static-libstdc++
    -Wl,--exclude-all-symbols -Wl,--kill-at -Wl,--no-undefined)
target_link_libraries(qk42rt PRIVATE user32 kernel32)

# qk42.dll for 32- and 64-bit Windows hosts: the qk42_ functions by name, Winsock for the
# device-server lines, and likewise no compiler runtime DLL beside it.
target_compile_definitions(qk42 PRIVATE QK42_BUILDING)
set_target_properties(qk42 PROPERTIES
    OUTPUT_NAME qk42
    PREFIX ""
    IMPORT_PREFIX ""
    IMPORT_SUFFIX ".lib"
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/include/qk42.def)
target_link_options(qk42 PRIVATE
    ${PROJECT_SOURCE_DIR}/include/qk42.def
    -static -static-libgcc -static-libstdc++
    -Wl,--exclude-all-symbols -Wl,--no-undefined)
target_link_libraries(qk42 PRIVATE ws2_32 user32 kernel32)
