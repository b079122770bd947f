# Settings both build trees share (the MinGW cross build and the native one in native/);
# KORVEL_ROOT is the repository's root.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release)
endif()

# nlohmann/json is pinned to the 3.11.3 copy in third_party/: its error texts reach the
# window, so no other version may be picked up (the cross compiler does not search
# /usr/include anyway; the native one finds third_party/ first).
set(KORVEL_DEPS_INCLUDE ${KORVEL_ROOT}/third_party)
file(SHA256 ${KORVEL_DEPS_INCLUDE}/nlohmann/json.hpp json_digest)
file(STRINGS ${KORVEL_DEPS_INCLUDE}/nlohmann/SHA256SUMS json_expected REGEX "json\\.hpp$")
string(REGEX MATCH "^[0-9a-f]+" json_expected "${json_expected}")
if(NOT json_digest STREQUAL json_expected)
    message(FATAL_ERROR "third_party/nlohmann/json.hpp does not match its SHA256SUMS")
endif()
