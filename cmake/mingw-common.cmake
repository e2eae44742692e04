set(CMAKE_C_COMPILER ${ORV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORV_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${ORV_TRIPLET}-objdump)
set(CMAKE_DLLTOOL ${ORV_TRIPLET}-dlltool)

# Only the target's own sysroot is searched: the host's /usr/include never reaches the build.
set(CMAKE_FIND_ROOT_PATH /usr/${ORV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine through a wrapper that keeps Wine's services off CTest's pipes.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run)
