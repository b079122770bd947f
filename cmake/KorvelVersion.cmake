# The programs' version as core/version.h defines it (KORVEL_VERSION_TEXT, e.g. "2.1.0"),
# and korvel_resources(TARGET NAME): resources/NAME.rc added to TARGET, its application
# manifest made from resources/NAME.manifest.in with that version.
file(STRINGS ${KORVEL_ROOT}/core/version.h version_defines REGEX "^#define KORVEL_VERSION_(MAJOR|MINOR|PATCH) ")
foreach(part MAJOR MINOR PATCH)
    if(NOT version_defines MATCHES "KORVEL_VERSION_${part} ([0-9]+)")
        message(FATAL_ERROR "core/version.h defines no KORVEL_VERSION_${part}")
    endif()
    set(KORVEL_VERSION_${part} ${CMAKE_MATCH_1})
endforeach()
set(KORVEL_VERSION_TEXT "${KORVEL_VERSION_MAJOR}.${KORVEL_VERSION_MINOR}.${KORVEL_VERSION_PATCH}")
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVEL_ROOT}/core/version.h)

function(korvel_resources target name)
    set(made ${CMAKE_BINARY_DIR}/resources)
    configure_file(${KORVEL_ROOT}/resources/${name}.manifest.in ${made}/${name}.manifest @ONLY)
    set(rc ${KORVEL_ROOT}/resources/${name}.rc)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES
        INCLUDE_DIRECTORIES "${KORVEL_ROOT};${made}"
        OBJECT_DEPENDS "${made}/${name}.manifest;${KORVEL_ROOT}/resources/version.rci;${KORVEL_ROOT}/core/version.h")
endfunction()
