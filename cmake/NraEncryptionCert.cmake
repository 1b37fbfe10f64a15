# The agency's public encryption certificate for VAT returns, supplied by the
# build:
#
#   cmake -DVELK_NRA_ENCRYPTION_CERT=<standard base64 of the DER certificate> ...
#
# The value is checked when configuring (standard base64 on one line, no PEM
# marker lines, decoding to exactly one DER X.509 certificate); a value that
# is none fails the configuration with the reason. Empty means not supplied:
# a VAT return then stops before Java starts and says so.

set(VELK_NRA_ENCRYPTION_CERT "" CACHE STRING
    "The agency's encryption certificate for VAT returns: standard base64 of its DER, on one line")

set(VELK_NRA_CERT_MODULE_DIR ${CMAKE_CURRENT_LIST_DIR})

# velk_check_nra_encryption_cert(value): fails the configuration unless the
# value is empty or the standard base64 of one DER X.509 certificate. Needs
# OpenSSL found (OpenSSL::Crypto).
function(velk_check_nra_encryption_cert value)
  if(value STREQUAL "")
    return()
  endif()
  set(what "VELK_NRA_ENCRYPTION_CERT must be the agency's encryption certificate as standard base64 of its DER, on one line without PEM marker lines")
  string(LENGTH "${value}" length)
  math(EXPR rest "${length} % 4")
  if(NOT value MATCHES "^[A-Za-z0-9+/]*=?=?$" OR NOT rest EQUAL 0)
    message(FATAL_ERROR "${what}: the value is not standard base64 (only A-Z, a-z, 0-9, '+' and '/', "
                        "'=' padding at the end, a length that is a multiple of 4, no blanks or line breaks).")
  endif()
  # The same value is checked once per build tree.
  string(SHA256 digest "${value}")
  if(VELK_NRA_ENCRYPTION_CERT_CHECKED STREQUAL digest)
    return()
  endif()
  set(work ${CMAKE_BINARY_DIR}/CMakeFiles/velk-nra-encryption-cert)
  file(WRITE ${work}/value.b64 "${value}")
  unset(velk_nra_cert_runs CACHE)
  try_run(velk_nra_cert_runs velk_nra_cert_compiles
    ${work}/check ${VELK_NRA_CERT_MODULE_DIR}/CheckDerCertificate.cpp
    LINK_LIBRARIES OpenSSL::Crypto
    COMPILE_OUTPUT_VARIABLE compile_output
    RUN_OUTPUT_VARIABLE run_output
    ARGS ${work}/value.b64)
  unset(velk_nra_cert_runs CACHE)
  if(NOT velk_nra_cert_compiles)
    message(FATAL_ERROR "The check of VELK_NRA_ENCRYPTION_CERT could not be built:\n${compile_output}")
  endif()
  string(STRIP "${run_output}" run_output)
  if(NOT run_output MATCHES "^certificate: ")
    message(FATAL_ERROR "${what}: ${run_output}")
  endif()
  string(REGEX REPLACE "^certificate: " "" subject "${run_output}")
  message(STATUS "Agency encryption certificate: ${subject}")
  set(VELK_NRA_ENCRYPTION_CERT_CHECKED "${digest}" CACHE INTERNAL "digest of the checked certificate value")
endfunction()

# velk_nra_encryption_cert_source(out_var): checks VELK_NRA_ENCRYPTION_CERT
# and writes the source that defines kNraEncryptionCertBase64 with it; out_var
# names that source.
function(velk_nra_encryption_cert_source out_var)
  velk_check_nra_encryption_cert("${VELK_NRA_ENCRYPTION_CERT}")
  set(source ${CMAKE_CURRENT_BINARY_DIR}/NraEncryptionCertValue.cpp)
  configure_file(${VELK_NRA_CERT_MODULE_DIR}/../src/features/vat/NraEncryptionCertValue.cpp.in ${source} @ONLY)
  set(${out_var} ${source} PARENT_SCOPE)
endfunction()
