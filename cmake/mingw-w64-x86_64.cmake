# Cross build for Windows x64 with mingw-w64 (the posix-threads compilers of
# Debian's g++-mingw-w64-x86-64-posix). Programs of the build, tests included,
# run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEV_MINGW_PREFIX}-g++-posix)
set(CMAKE_ASM_COMPILER ${ZEV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_RC_COMPILER ${ZEV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZEV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/wine)

# One file, no runtime DLL beside it: the C and C++ runtimes and the threads
# library are linked in; only system DLLs stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
