# Signs a Windows program in place with osslsigncode, the key and certificate from a PKCS#12
# file whose password is read from a file (never given on a command line that a log keeps).
#   cmake -DPROGRAM=FILE -DPKCS12=FILE -DPASSWORD_FILE=FILE [-DOSSLSIGNCODE=PATH] -P SignProgram.cmake
if(NOT OSSLSIGNCODE)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()
foreach(file PROGRAM PKCS12 PASSWORD_FILE)
  if(NOT EXISTS "${${file}}")
    message(FATAL_ERROR "signing: ${file} names no file: '${${file}}'")
  endif()
endforeach()
set(signed "${PROGRAM}.signed")
file(REMOVE "${signed}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}"
          -n "Zarpo key disk updater" -h sha256 -in "${PROGRAM}" -out "${signed}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  file(REMOVE "${signed}")
  message(FATAL_ERROR "signing ${PROGRAM} failed:\n${out}${err}")
endif()
file(RENAME "${signed}" "${PROGRAM}")
message(STATUS "signed ${PROGRAM}")
