# Authenticode signing of the Windows build with a test certificate.
#
# The module loads only libraries that WinVerifyTrust accepts, and that check cannot be
# turned off. A development or CI build therefore signs its own DLLs with a certificate
# made for this build tree alone (build/<preset>/signing/: key, certificate, DER copy),
# which only a test machine's prefix trusts: scripts/windows-test adds it to the Root store
# of the fresh WINEPREFIX it makes (gp_trust_certificate). A release is signed by the
# release process with the product's own certificate instead (GP_TEST_SIGNING=OFF); its
# DLLs, unsigned or signed with this test certificate, are refused on any other machine.
option(GP_TEST_SIGNING "Sign the Windows DLLs with a test certificate of this build tree" ON)

if(NOT WIN32 OR NOT GP_TEST_SIGNING)
  function(gp_sign_library target)
  endfunction()
  return()
endif()

find_program(GP_OPENSSL openssl REQUIRED)
find_program(GP_OSSLSIGNCODE osslsigncode REQUIRED)
set(GP_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
if(NOT EXISTS ${GP_SIGNING_DIR}/test.cer)
  file(MAKE_DIRECTORY ${GP_SIGNING_DIR})
  execute_process(
    COMMAND ${GP_OPENSSL} req -x509 -newkey rsa:2048 -nodes -keyout ${GP_SIGNING_DIR}/test.key
            -out ${GP_SIGNING_DIR}/test.crt -days 3650 -subj "/CN=Glimmerpane Test Signing (this build only)"
            -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot make the test signing certificate")
  endif()
  execute_process(COMMAND ${GP_OPENSSL} x509 -in ${GP_SIGNING_DIR}/test.crt -outform DER -out ${GP_SIGNING_DIR}/test.cer
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot write the test signing certificate")
  endif()
endif()
set(GP_TEST_CERTIFICATE ${GP_SIGNING_DIR}/test.cer CACHE INTERNAL "")

# Signs the target's file in place after each link.
function(gp_sign_library target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${GP_OSSLSIGNCODE} sign -certs ${GP_SIGNING_DIR}/test.crt -key ${GP_SIGNING_DIR}/test.key
            -n "Glimmerpane test build" -in $<TARGET_FILE:${target}> -out $<TARGET_FILE:${target}>.signed
    COMMAND ${CMAKE_COMMAND} -E rename $<TARGET_FILE:${target}>.signed $<TARGET_FILE:${target}>
    COMMENT "Signing ${target} with the test certificate"
    VERBATIM)
endfunction()
