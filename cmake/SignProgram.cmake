# Signs a Windows program in place with osslsigncode, the key and certificate from a PKCS#12
# file whose password is read from a file (never given on a command line that a log keeps).
#   cmake -DPROGRAM=FILE -DPKCS12=FILE -DPASSWORD_FILE=FILE -DPACKER=FILE -DPACKAGE=FILE
#         [-DCAFILE=FILE] [-DTIMESTAMP_URL=URL] [-DOSSLSIGNCODE=PATH] [-DOPENSSL=PATH]
#         -P SignProgram.cmake
#
# The signature carries a fixed signing time, so that the same program and key give the same
# signed bytes (osslsigncode's RSA signatures, PKCS#1 v1.5, depend on nothing else; ECDSA ones
# do): SOURCE_DATE_EPOCH when the environment has it, else the newest last-write time in
# PACKAGE, the package the program carries. With TIMESTAMP_URL a time-stamping authority
# countersigns at its own time instead, and every signed build differs.
# The signature is then verified against CAFILE, or else against the certificates the PKCS#12
# file holds (enough for a self-signed or test certificate, and for a chain up to its root); one
# that does not verify fails the build and leaves the program unsigned. The signed program keeps
# the program's mode.
foreach(tool OSSLSIGNCODE OPENSSL)
  if(NOT ${tool})
    string(TOLOWER ${tool} name)
    find_program(${tool} ${name} REQUIRED)
  endif()
endforeach()
foreach(file PROGRAM PKCS12 PASSWORD_FILE PACKER PACKAGE)
  if(NOT EXISTS "${${file}}")
    message(FATAL_ERROR "signing: ${file} names no file: '${${file}}'")
  endif()
endforeach()
if(CAFILE AND NOT EXISTS "${CAFILE}")
  message(FATAL_ERROR "signing: CAFILE names no file: '${CAFILE}'")
endif()

set(signed "${PROGRAM}.signed")
set(extracted "${PROGRAM}.chain.pem")
function(fail message)
  file(REMOVE "${signed}" "${extracted}")
  message(FATAL_ERROR "signing ${PROGRAM}: ${message}")
endfunction()
file(REMOVE "${signed}" "${extracted}")

if(TIMESTAMP_URL)
  set(time_args -ts "${TIMESTAMP_URL}")
  set(time_text "time-stamped by ${TIMESTAMP_URL}")
else()
  if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(time "$ENV{SOURCE_DATE_EPOCH}")
    set(source "SOURCE_DATE_EPOCH")
  else()
    execute_process(COMMAND "${PACKER}" newest-time "${PACKAGE}" RESULT_VARIABLE result
                    OUTPUT_VARIABLE time ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
      fail("no signing time from the package (set SOURCE_DATE_EPOCH):\n${err}")
    endif()
    set(source "the package's newest entry")
  endif()
  if(NOT time MATCHES "^[0-9]+$")
    fail("the signing time from ${source} is not seconds since 1970: '${time}'")
  endif()
  set(time_args -time ${time})
  set(time_text "signing time ${time} (${source})")
endif()

execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}"
          -n "Zarpo key disk updater" -h sha256 ${time_args} -in "${PROGRAM}" -out "${signed}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  fail("osslsigncode sign failed:\n${out}${err}")
endif()

if(CAFILE)
  set(trust "${CAFILE}")
  set(trust_text "${CAFILE}")
else()
  set(trust "${extracted}")
  set(trust_text "the certificates in ${PKCS12}")
  # -legacy: OpenSSL 3 reads older PKCS#12 files (RC2, as Windows exports them) only with its
  # legacy provider; newer ones read the same with it.
  execute_process(COMMAND "${OPENSSL}" pkcs12 -legacy -in "${PKCS12}" -nokeys
                          -passin "file:${PASSWORD_FILE}" -out "${extracted}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    fail("cannot read the certificates of ${PKCS12}:\n${out}${err}")
  endif()
endif()
execute_process(COMMAND "${OSSLSIGNCODE}" verify -CAfile "${trust}" -in "${signed}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE "${extracted}")
if(NOT result EQUAL 0)
  fail("the signature does not verify against ${trust_text}:\n${out}${err}")
endif()

# osslsigncode writes a new file with the default mode; the program stays executable.
execute_process(COMMAND chmod "--reference=${PROGRAM}" "${signed}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  fail("cannot give the signed file the program's mode")
endif()
file(RENAME "${signed}" "${PROGRAM}")
message(STATUS "signed ${PROGRAM}, ${time_text}, verified")
