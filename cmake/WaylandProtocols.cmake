# tindrel_wayland_protocols(<var> <xml>...): client bindings for each protocol
# description, made by wayland-scanner at build time. The headers land in
# <binary dir>/wayland-protocols as <name>-client-protocol.h; <var> gets the
# generated sources to compile.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

function(tindrel_wayland_protocols out)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
    file(MAKE_DIRECTORY ${dir})
    set(sources)
    foreach(xml IN LISTS ARGN)
        get_filename_component(name ${xml} NAME_WE)
        set(header ${dir}/${name}-client-protocol.h)
        set(code ${dir}/${name}-protocol.c)
        add_custom_command(OUTPUT ${header}
            COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
            DEPENDS ${xml} VERBATIM)
        add_custom_command(OUTPUT ${code}
            COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
            DEPENDS ${xml} VERBATIM)
        list(APPEND sources ${header} ${code})
    endforeach()
    set(${out} ${sources} PARENT_SCOPE)
endfunction()
