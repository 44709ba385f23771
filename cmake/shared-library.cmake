# A library the program loads by name at run time: only the names its version script lists are
# exported, it lands in the program's folder, and it finds its neighbours there.
function(tolvex_loadable_library target internal)
    add_library(${target} SHARED exports.cpp)
    target_link_libraries(${target} PRIVATE ${internal})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_options(${target} PRIVATE
        -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map
        $<$<NOT:$<BOOL:${TOLVEX_SANITIZE}>>:-Wl,--no-undefined>)
    set_target_properties(${target} PROPERTIES
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map
        LIBRARY_OUTPUT_DIRECTORY ${TOLVEX_BIN_DIR}
        BUILD_RPATH "\$ORIGIN"
        INSTALL_RPATH "\$ORIGIN")
endfunction()
