# Shared part of the mingw-w64 cross toolchains; the per-architecture files set KORVEX_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${KORVEX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVEX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${KORVEX_TRIPLET}-windres)
set(WIDL_EXECUTABLE    ${KORVEX_TRIPLET}-widl CACHE FILEPATH "widl for ${KORVEX_TRIPLET}")

set(CMAKE_FIND_ROOT_PATH /usr/${KORVEX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run under Wine; the wrapper sets up the environment of the test prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run.sh)
