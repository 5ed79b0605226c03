# Toolchain for the native Win32 build: x86_64-w64-mingw32 from Debian's
# mingw-w64 packages, POSIX thread model (the -posix compilers: std::thread,
# std::mutex and std::condition_variable go through winpthreads).
#
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# libgcc, libstdc++ and winpthread are linked statically, so an .exe imports
# only DLLs that ship with Windows (tests/win checks the import table).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(IAP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${IAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${IAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${IAP_MINGW_TRIPLE}-windres)
find_program(IAP_MINGW_OBJDUMP ${IAP_MINGW_TRIPLE}-objdump)

# Search headers and libraries only in the mingw sysroot, programs only on
# the build machine: /usr/include must never be picked up by the cross
# compiler (glibc's headers clash with mingw's).
set(CMAKE_FIND_ROOT_PATH /usr/${IAP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beyond the system's. -static makes the linker take libwinpthread.a
# instead of its import library; the two flags before it cover libgcc and
# libstdc++ also where -static is dropped by a target.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
