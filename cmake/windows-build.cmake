# The 32-bit Windows build: Halvet_Tolvex.dll, the Tolvex.dat it reads, and its tests.
# Everything links its runtimes in, so a folder of our own files runs on a bare system.
add_link_options(-static)

add_subdirectory(core)
add_subdirectory(codec)

# Tools that run on the build machine come from a native build of this same tree: the template
# generator (Tolvex.dat is the same file on both systems) and codec_call, the Linux side of the
# cross-platform tests.
include(ExternalProject)
set(TOLVEX_HOST_DIR ${CMAKE_BINARY_DIR}/host)
ExternalProject_Add(tolvex_host
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${TOLVEX_HOST_DIR}
    CMAKE_ARGS -DTOLVEX_CODEC_ONLY=ON -DTOLVEX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${TOLVEX_HOST_DIR}/bin/Tolvex.dat ${TOLVEX_HOST_DIR}/bin/codec_call)
set(TOLVEX_TEMPLATE_FILE ${TOLVEX_BIN_DIR}/Tolvex.dat)
add_custom_command(
    OUTPUT ${TOLVEX_TEMPLATE_FILE}
    COMMAND ${CMAKE_COMMAND} -E copy ${TOLVEX_HOST_DIR}/bin/Tolvex.dat ${TOLVEX_TEMPLATE_FILE}
    DEPENDS ${TOLVEX_HOST_DIR}/bin/Tolvex.dat
    COMMENT "Copying Tolvex.dat from the host build")
add_custom_target(tolvex_templates ALL DEPENDS ${TOLVEX_TEMPLATE_FILE})
add_dependencies(tolvex_templates tolvex_host)

if(TOLVEX_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
