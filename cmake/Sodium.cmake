# libsodium, for the release signatures (Ed25519), as the target launcher_sodium.
# Linux: Debian's libsodium-dev through pkg-config. Windows: the static library that
# scripts/build-windows-deps.sh cross-builds from Debian's source package into the deps prefix.
if(WIN32)
  if(NOT EXISTS "${LAUNCHER_WINDOWS_DEPS}/lib/libsodium.a" OR NOT EXISTS "${LAUNCHER_WINDOWS_DEPS}/include/sodium.h")
    message(FATAL_ERROR "libsodium is missing from the Windows libraries in ${LAUNCHER_WINDOWS_DEPS}: "
                        "they were built by an older recipe; rebuild them with scripts/build-windows-deps.sh")
  endif()
  add_library(launcher_sodium INTERFACE)
  target_include_directories(launcher_sodium SYSTEM INTERFACE "${LAUNCHER_WINDOWS_DEPS}/include")
  target_link_libraries(launcher_sodium INTERFACE "${LAUNCHER_WINDOWS_DEPS}/lib/libsodium.a")
  # Without it sodium.h declares every function as imported from a DLL.
  target_compile_definitions(launcher_sodium INTERFACE SODIUM_STATIC)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  add_library(launcher_sodium INTERFACE)
  target_link_libraries(launcher_sodium INTERFACE PkgConfig::SODIUM)
endif()
