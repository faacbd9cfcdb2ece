# Optional Authenticode signing of a Windows executable with osslsigncode, after each link:
# with LAUNCHER_SIGN_PKCS12, or LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY, set; nothing otherwise.
# The password stays in a file (LAUNCHER_SIGN_PASSWORD_FILE) so it never enters the cache.
function(launcher_authenticode_sign target)
  if(NOT LAUNCHER_SIGN_PKCS12 AND NOT LAUNCHER_SIGN_CERT)
    return()
  endif()
  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode REQUIRED)
  if(LAUNCHER_SIGN_PKCS12)
    set(credentials -pkcs12 ${LAUNCHER_SIGN_PKCS12})
  elseif(LAUNCHER_SIGN_KEY)
    set(credentials -certs ${LAUNCHER_SIGN_CERT} -key ${LAUNCHER_SIGN_KEY})
  else()
    message(FATAL_ERROR "LAUNCHER_SIGN_CERT needs LAUNCHER_SIGN_KEY")
  endif()
  if(LAUNCHER_SIGN_PASSWORD_FILE)
    list(APPEND credentials -readpass ${LAUNCHER_SIGN_PASSWORD_FILE})
  endif()
  if(LAUNCHER_SIGN_TIMESTAMP_URL)
    list(APPEND credentials -ts ${LAUNCHER_SIGN_TIMESTAMP_URL})
  endif()
  # osslsigncode writes a new file, which replaces the linked one only when signing succeeded; a
  # failed signing fails the build.
  set(unsigned $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${LAUNCHER_OSSLSIGNCODE} sign ${credentials} -h sha256 -n ${LAUNCHER_PRODUCT_NAME}
            -in ${unsigned} -out ${unsigned}.signed
    COMMAND ${CMAKE_COMMAND} -E rename ${unsigned}.signed ${unsigned}
    COMMENT "Signing $<TARGET_FILE_NAME:${target}> (Authenticode)"
    VERBATIM)
endfunction()
