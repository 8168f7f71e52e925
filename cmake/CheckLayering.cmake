# cmake -DSOURCES=<dir> -DWIDGETS_HEADERS=<dir> -P CheckLayering.cmake
#
# Fails, naming each offending line, when the headless part of the program
# (<dir>/core and the interfaces in <dir>/platform/*.h) includes something
# it must not depend on: a platform implementation, the widgets, the app,
# Qt Widgets, or an xcb, X11 or Avahi header. WIDGETS_HEADERS is Qt Widgets'
# include folder; its class headers (<QWidget>, <QMenu>, ...) count too.

if(NOT IS_DIRECTORY "${SOURCES}/core")
    message(FATAL_ERROR "no core folder under '${SOURCES}'")
endif()

set(forbidden
    "\"platform/[^\"/]+/"
    "\"(ui|app)/"
    "<(QtWidgets|xcb|X11|avahi-[a-z]+)/"
    "<(xcb|X11)[^>/]*\\.h>")
if(WIDGETS_HEADERS)
    file(GLOB widget_classes RELATIVE "${WIDGETS_HEADERS}" "${WIDGETS_HEADERS}/Q*")
    list(FILTER widget_classes EXCLUDE REGEX "\\.")
    list(JOIN widget_classes "|" alternatives)
    list(APPEND forbidden "<(${alternatives})>")
endif()
list(JOIN forbidden "|" pattern)

file(GLOB_RECURSE checked "${SOURCES}/core/*.h" "${SOURCES}/core/*.cpp")
file(GLOB interfaces "${SOURCES}/platform/*.h")
list(APPEND checked ${interfaces})

set(found 0)
foreach(file IN LISTS checked)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
        if(line MATCHES "${pattern}")
            file(RELATIVE_PATH shown "${SOURCES}" "${file}")
            message("layering: ${shown} includes ${line}")
            math(EXPR found "${found} + 1")
        endif()
    endforeach()
endforeach()
if(found GREATER 0)
    message(FATAL_ERROR "layering: ${found} include(s) reach above the headless core")
endif()
list(LENGTH checked count)
message("layering: ${count} files checked")
