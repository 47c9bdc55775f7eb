# Settings of the product build: GlintUtil.dll, the reference host, helper
# programs and the tests that run them under Wine.
enable_language(RC)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Everything we ship links the C++ runtime, winpthread and zlib statically,
# so that only system DLLs are imported.
add_library(glint_static_runtime INTERFACE)
target_link_options(glint_static_runtime INTERFACE -static -static-libgcc -static-libstdc++)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

# Tests run through Wine in this build tree's own prefix.
set(GLINT_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "Wine prefix of this build tree")
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${GLINT_WINEPREFIX})

# Files generated from the broker's interface definition (see src/).
set(GLINT_GENERATED ${CMAKE_BINARY_DIR}/generated)
set(GLINT_BROKER_GENERATED ${GLINT_GENERATED}/broker)
file(MAKE_DIRECTORY ${GLINT_BROKER_GENERATED})
