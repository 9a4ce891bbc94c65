# The signing step on a copy of the built program, with a throwaway certificate made here:
# osslsigncode verifies the signature against that certificate, and the program's own checks
# still hold on the signed file.
#   cmake -DEXE=FILE -DWORK=DIR -DCHECK=check_exe.py -DPYTHON=... -DARGS="..." -P sign_test.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
find_program(OPENSSL openssl REQUIRED)
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${WORK}")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${out}${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()
string(RANDOM LENGTH 24 password)
file(WRITE "${WORK}/password" "${password}")
run("making a certificate" "${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -days 2
    -subj "/CN=Zarpo test signer" -keyout key.pem -out cert.pem)
run("making the PKCS#12 file" "${OPENSSL}" pkcs12 -export -inkey key.pem -in cert.pem
    -out signer.p12 -passout file:password)
file(COPY_FILE "${EXE}" "${WORK}/ZarpoUpdate.exe")
run("signing" ${CMAKE_COMMAND} -DPROGRAM=${WORK}/ZarpoUpdate.exe -DPKCS12=${WORK}/signer.p12
    -DPASSWORD_FILE=${WORK}/password -P "${CMAKE_CURRENT_LIST_DIR}/../../cmake/SignProgram.cmake")
run("verifying the signature" "${OSSLSIGNCODE}" verify -CAfile cert.pem -in ZarpoUpdate.exe)
separate_arguments(check_args UNIX_COMMAND "${ARGS}")
run("checking the signed program" "${PYTHON}" "${CHECK}" --exe "${WORK}/ZarpoUpdate.exe" ${check_args})
file(SIZE "${EXE}" before)
file(SIZE "${WORK}/ZarpoUpdate.exe" after)
if(NOT after GREATER before)
  message(FATAL_ERROR "the signed program is no larger than the unsigned one")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "signed and verified: ${before} -> ${after} bytes")
