# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers (posix thread model,
# so std::thread and std::mutex work). Programs carry the C and C++ runtimes and winpthreads
# inside them, link the static libraries that scripts/windows-deps.sh builds, and run
# under Wine when CMake or CTest has to run one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MTX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MTX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MTX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MTX_MINGW_TRIPLET}-windres)

# No runtime DLLs beside the programs: libgcc, libstdc++ and winpthreads go in statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Libraries and headers come only from the cross-built prefix, never from the Linux system;
# programs (nasm, awk, wine) come from the host.
if(DEFINED ENV{MTX_WINDOWS_DEPS_PREFIX})
  set(MTX_WINDOWS_DEPS_PREFIX "$ENV{MTX_WINDOWS_DEPS_PREFIX}")
else()
  get_filename_component(MTX_WINDOWS_DEPS_PREFIX
    "${CMAKE_CURRENT_LIST_DIR}/../build-windows/deps/prefix" ABSOLUTE)
endif()
set(CMAKE_FIND_ROOT_PATH "${MTX_WINDOWS_DEPS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(MTX_WINE NAMES wine)
if(MTX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${MTX_WINE}")
endif()
