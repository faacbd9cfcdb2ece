# Cross build for 64-bit Windows with Debian's mingw-w64 compilers. The posix-threads
# variants give std::thread and std::mutex; everything is linked statically so the launcher
# is one .exe that imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LAUNCHER_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LAUNCHER_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LAUNCHER_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LAUNCHER_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${LAUNCHER_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${LAUNCHER_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# The libraries built by scripts/build-windows-deps.sh (static zlib, minizip, libcurl),
# found before the compiler's own sysroot. Callers may point elsewhere with
# -DLAUNCHER_WINDOWS_DEPS=<prefix>.
if(NOT LAUNCHER_WINDOWS_DEPS)
  get_filename_component(_launcher_source_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
  set(LAUNCHER_WINDOWS_DEPS "${_launcher_source_root}/build/windows-deps/prefix")
endif()
set(LAUNCHER_WINDOWS_DEPS "${LAUNCHER_WINDOWS_DEPS}" CACHE PATH "Prefix of the cross-built Windows libraries")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LAUNCHER_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH "${LAUNCHER_WINDOWS_DEPS}" /usr/${LAUNCHER_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
# Debian's wine runs the cross-built programs (tests, the launcher) on this machine.
find_program(LAUNCHER_WINE_PROGRAM wine)
if(LAUNCHER_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LAUNCHER_WINE_PROGRAM})
endif()

# pkg-config answers from the cross-built libraries only, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${LAUNCHER_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
