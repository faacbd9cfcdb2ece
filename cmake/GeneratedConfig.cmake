# Turns the studio's cache variables into one generated header, launcher_config.h.
set(_urls "")
foreach(url IN LISTS LAUNCHER_BASE_URLS)
  string(APPEND _urls "\"${url}\", ")
endforeach()
set(LAUNCHER_BASE_URL_INITIALISERS "${_urls}")
if(LAUNCHER_VERIFY_TLS)
  set(LAUNCHER_VERIFY_TLS_VALUE true)
else()
  set(LAUNCHER_VERIFY_TLS_VALUE false)
endif()
# Base64 of exactly 32 bytes is 43 characters and one "=", the last character carrying only four
# bits (its two low bits zero), as libsodium's strict decoder insists; anything else would leave
# a launcher that refuses every release, so the configure stops here instead.
string(LENGTH "${LAUNCHER_RELEASE_PUBLIC_KEY}" _key_length)
if(NOT _key_length EQUAL 0 AND
   (NOT _key_length EQUAL 44 OR NOT LAUNCHER_RELEASE_PUBLIC_KEY MATCHES "^[A-Za-z0-9+/]+[AEIMQUYcgkosw048]=$"))
  message(FATAL_ERROR "LAUNCHER_RELEASE_PUBLIC_KEY is not the base64 of a 32-byte Ed25519 public key "
                      "(44 characters ending in \"=\", as launcher-publish keygen prints it): \"${LAUNCHER_RELEASE_PUBLIC_KEY}\"")
endif()
set(LAUNCHER_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/launcher_config.h.in ${LAUNCHER_GENERATED_DIR}/launcher_config.h @ONLY)
add_library(launcher_config INTERFACE)
target_include_directories(launcher_config INTERFACE ${LAUNCHER_GENERATED_DIR})
