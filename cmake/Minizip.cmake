# minizip, the archive reader the launcher is built on, as two static targets:
#   launcher_minizip         the reading half (unzip.c, ioapi.c), which the launcher links;
#   launcher_minizip_writer  the writing half (zip.c), for launcher-publish and the tests.
# Both builds compile them from zlib's contrib/minizip in Debian's zlib source package (the
# version is pinned in scripts/debian-source.sh), with the corrections in scripts/patches/
# applied, so Linux and Windows read archives alike; Debian's separately packaged minizip is
# an older fork that does not read zip64 archives on 64-bit Linux. Sources include <minizip/unzip.h>, so minizip's own folder
# (its "crypt.h" would shadow the system's) is never on a consumer's include path.
find_package(ZLIB REQUIRED)

set(LAUNCHER_DEBIAN_SOURCES "${PROJECT_SOURCE_DIR}/build/debian-sources"
    CACHE PATH "Cache of Debian source packages (scripts/debian-source.sh)")

# Unpacked and patched once per build folder; a changed patch set unpacks again.
set(_zlib_tree "${CMAKE_BINARY_DIR}/_deps/zlib")
file(GLOB _minizip_patches CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/scripts/patches/minizip-*.patch")
list(SORT _minizip_patches)
set(_minizip_recipe "")
foreach(_patch IN LISTS _minizip_patches)
  file(SHA256 "${_patch}" _digest)
  string(APPEND _minizip_recipe "${_digest}\n")
endforeach()
set(_minizip_stamp "${_zlib_tree}.stamp")
set(_minizip_done "")
if(EXISTS "${_minizip_stamp}")
  file(READ "${_minizip_stamp}" _minizip_done)
endif()
if(NOT EXISTS "${_zlib_tree}/contrib/minizip/unzip.c" OR NOT _minizip_done STREQUAL _minizip_recipe)
  set(_debian_source "${PROJECT_SOURCE_DIR}/scripts/debian-source.sh")
  execute_process(COMMAND bash "${_debian_source}" "${LAUNCHER_DEBIAN_SOURCES}" zlib RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Fetching Debian's zlib source failed (scripts/debian-source.sh)")
  endif()
  execute_process(COMMAND bash "${_debian_source}" --extract "${LAUNCHER_DEBIAN_SOURCES}" zlib "${_zlib_tree}"
                  RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Unpacking Debian's zlib source failed")
  endif()
  foreach(_patch IN LISTS _minizip_patches)
    execute_process(COMMAND patch -p1 --forward --batch -i "${_patch}" WORKING_DIRECTORY "${_zlib_tree}"
                    RESULT_VARIABLE _result OUTPUT_QUIET)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "Applying ${_patch} to zlib's minizip failed")
    endif()
  endforeach()
  file(WRITE "${_minizip_stamp}" "${_minizip_recipe}")
endif()

set(_minizip_dir "${_zlib_tree}/contrib/minizip")
set(_minizip_headers "${CMAKE_BINARY_DIR}/_deps/minizip-include")
file(MAKE_DIRECTORY "${_minizip_headers}/minizip")
foreach(_header unzip.h zip.h ioapi.h)
  configure_file("${_minizip_dir}/${_header}" "${_minizip_headers}/minizip/${_header}" COPYONLY)
endforeach()

# Third-party C: built as it is written, without the project's warnings.
add_library(launcher_minizip STATIC "${_minizip_dir}/unzip.c" "${_minizip_dir}/ioapi.c")
if(WIN32)
  # Win32 file functions, for opening archives by their wide names.
  target_sources(launcher_minizip PRIVATE "${_minizip_dir}/iowin32.c")
  configure_file("${_minizip_dir}/iowin32.h" "${_minizip_headers}/minizip/iowin32.h" COPYONLY)
endif()
target_include_directories(launcher_minizip PRIVATE "${_minizip_dir}")
target_include_directories(launcher_minizip SYSTEM INTERFACE "${_minizip_headers}")
target_compile_options(launcher_minizip PRIVATE -w)
target_link_libraries(launcher_minizip PUBLIC ZLIB::ZLIB)
set_target_properties(launcher_minizip PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(launcher_minizip_writer STATIC "${_minizip_dir}/zip.c")
target_include_directories(launcher_minizip_writer PRIVATE "${_minizip_dir}")
target_compile_options(launcher_minizip_writer PRIVATE -w)
target_link_libraries(launcher_minizip_writer PUBLIC launcher_minizip)
