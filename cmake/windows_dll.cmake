# QK42RT.DLL for 32-bit Windows hosts: the twenty functions at their ordinals and nothing else,
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
