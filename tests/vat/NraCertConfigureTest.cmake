# Configures the scratch project nra_cert_project with values of
# VELK_NRA_ENCRYPTION_CERT: a certificate reaches the built constant; every
# value that is not one configures with the reason.
#   cmake -DVELK_SOURCE_DIR=... -DWORK_DIR=... -DCXX_COMPILER=... -P NraCertConfigureTest.cmake

# A self-signed test certificate (no agency's): its DER in standard base64.
set(certificate "MIIB9DCCAZugAwIBAgIUFwq0O84F1XdkrYOc9qkreI1H8YIwCgYIKoZIzj0EAwIwTzEsMCoGCSqGSIb3DQEJARYddmF0LWVuY3J5cHRpb25AYWdlbmN5LmV4YW1wbGUxHzAdBgNVBAMMFlRlc3QgYWdlbmN5IGVuY3J5cHRpb24wIBcNMjYxMjExMDgzNzI1WhgPMjEyNjExMTcwODM3MjVaME8xLDAqBgkqhkiG9w0BCQEWHXZhdC1lbmNyeXB0aW9uQGFnZW5jeS5leGFtcGxlMR8wHQYDVQQDDBZUZXN0IGFnZW5jeSBlbmNyeXB0aW9uMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEZOcPM3q1DFtCZ+yV+mSUTOwnt1u7hpLfaBNMZzTLPrEiSu61/smvp1vRcNBGSTgUiYgZOHqN9vGh2VDQzx/fpqNTMFEwHQYDVR0OBBYEFB6CH7D+luKH/TWZIroDoTrB6EhpMB8GA1UdIwQYMBaAFB6CH7D+luKH/TWZIroDoTrB6EhpMA8GA1UdEwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDRwAwRAIgaUn3iGYjenN3HtBdrM+7x9FKQULfBNWOJB7VtRKmTl4CIEEdTaEWnb8RnlTzjd/oF8rUBq+BT8c2kwUEUvSIHWes")
# The same DER with two more bytes after it.
set(followed_by_bytes "MIIB9DCCAZugAwIBAgIUFwq0O84F1XdkrYOc9qkreI1H8YIwCgYIKoZIzj0EAwIwTzEsMCoGCSqGSIb3DQEJARYddmF0LWVuY3J5cHRpb25AYWdlbmN5LmV4YW1wbGUxHzAdBgNVBAMMFlRlc3QgYWdlbmN5IGVuY3J5cHRpb24wIBcNMjYxMjExMDgzNzI1WhgPMjEyNjExMTcwODM3MjVaME8xLDAqBgkqhkiG9w0BCQEWHXZhdC1lbmNyeXB0aW9uQGFnZW5jeS5leGFtcGxlMR8wHQYDVQQDDBZUZXN0IGFnZW5jeSBlbmNyeXB0aW9uMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEZOcPM3q1DFtCZ+yV+mSUTOwnt1u7hpLfaBNMZzTLPrEiSu61/smvp1vRcNBGSTgUiYgZOHqN9vGh2VDQzx/fpqNTMFEwHQYDVR0OBBYEFB6CH7D+luKH/TWZIroDoTrB6EhpMB8GA1UdIwQYMBaAFB6CH7D+luKH/TWZIroDoTrB6EhpMA8GA1UdEwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDRwAwRAIgaUn3iGYjenN3HtBdrM+7x9FKQULfBNWOJB7VtRKmTl4CIEEdTaEWnb8RnlTzjd/oF8rUBq+BT8c2kwUEUvSIHWesWFk=")

set(project_dir ${CMAKE_CURRENT_LIST_DIR}/nra_cert_project)
set(build_dir ${WORK_DIR}/nra-cert-scratch)
file(REMOVE_RECURSE ${build_dir})
set(failures 0)

function(configure value out_code out_text)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${project_dir} -B ${build_dir} -DVELK_SOURCE_DIR=${VELK_SOURCE_DIR}
            -DCMAKE_CXX_COMPILER=${CXX_COMPILER} "-DVELK_NRA_ENCRYPTION_CERT=${value}"
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
  # CMake wraps the lines of its messages: one blank for every run of white space.
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${out}${err}")
  set(${out_code} "${code}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

function(fail text)
  message(SEND_ERROR "${text}")
endfunction()

if(NOT EXISTS "${VELK_SOURCE_DIR}/cmake/NraEncryptionCert.cmake")
  message(FATAL_ERROR "VELK_SOURCE_DIR (${VELK_SOURCE_DIR}) holds no cmake/NraEncryptionCert.cmake")
endif()

# A certificate, then none (not supplied): each reaches the built constant.
foreach(value IN ITEMS "${certificate}" "")
  configure("${value}" code text)
  if(NOT code EQUAL 0)
    fail("configuring with '${value}' failed (${code}):\n${text}")
    continue()
  endif()
  if(NOT value STREQUAL "" AND NOT text MATCHES
     "Agency encryption certificate: /emailAddress=vat-encryption@agency.example/CN=Test agency encryption")
    fail("configuring with the certificate did not name its subject:\n${text}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build_dir}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 300)
  if(NOT code EQUAL 0)
    fail("building with '${value}' failed (${code}):\n${out}${err}")
    continue()
  endif()
  execute_process(COMMAND ${build_dir}/print_cert RESULT_VARIABLE code OUTPUT_VARIABLE out TIMEOUT 60)
  if(NOT out STREQUAL "[${value}]\n")
    fail("the built constant is '${out}', not '[${value}]'")
  endif()
endforeach()

# Values that are no certificate: configuring fails and says why.
string(SUBSTRING "${certificate}" 0 64 first_line)
string(SUBSTRING "${certificate}" 64 -1 rest)
set(cases
  "not base64!|not standard base64"
  "-----BEGIN CERTIFICATE-----${certificate}-----END CERTIFICATE-----|not standard base64"
  "${first_line}\n${rest}|not standard base64"
  " ${certificate}|not standard base64"
  "QUJD|not a DER X.509 certificate"
  "QUJ=|not standard base64"
  "${followed_by_bytes}|followed by other bytes"
  "${certificate}AAAA|followed by other bytes")
foreach(entry IN LISTS cases)
  string(FIND "${entry}" "|" bar REVERSE)
  string(SUBSTRING "${entry}" 0 ${bar} value)
  math(EXPR after "${bar} + 1")
  string(SUBSTRING "${entry}" ${after} -1 reason)
  configure("${value}" code text)
  if(code EQUAL 0)
    fail("configuring with '${value}' succeeded")
  elseif(NOT text MATCHES "VELK_NRA_ENCRYPTION_CERT must be the agency's encryption certificate" OR
         NOT text MATCHES "${reason}")
    fail("configuring with '${value}' failed without saying '${reason}':\n${text}")
  endif()
endforeach()
