#pragma once
// The launcher's version, in one place: the version blocks and application manifests of
// both programs (resources/), the version the launcher compares with the server's offer
// and the user agent are all made from these three numbers. Plain macros, so that the
// resource compiler and CMake can read them too.

#define KORVEL_VERSION_MAJOR 2
#define KORVEL_VERSION_MINOR 1
#define KORVEL_VERSION_PATCH 0

#define KORVEL_STRINGIZE_(x) #x
#define KORVEL_STRINGIZE(x) KORVEL_STRINGIZE_(x)

// "2.1.0"
#define KORVEL_VERSION_TEXT KORVEL_STRINGIZE(KORVEL_VERSION_MAJOR.KORVEL_VERSION_MINOR.KORVEL_VERSION_PATCH)
// "2.1", as the user agent carries it
#define KORVEL_VERSION_SHORT_TEXT KORVEL_STRINGIZE(KORVEL_VERSION_MAJOR.KORVEL_VERSION_MINOR)
