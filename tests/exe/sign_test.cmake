# The signing step. A program the build signed (SIGNED_WITH, its ZARPO_SIGN_PKCS12) must verify
# against the chain the build was given. The program without its signature is then signed here
# with a throwaway certificate: twice, a second apart, giving the same bytes (the signing time
# is the package's newest), once more under SOURCE_DATE_EPOCH, carrying that time; each must
# verify with -CAfile, keep the program's mode, be larger and pass the program's own checks.
#   cmake -DEXE=FILE -DWORK=DIR -DCHECK=check_exe.py -DPYTHON=... -DARGS="..." -DPACKER=FILE
#         -DPACKAGE=FILE [-DSIGNED_WITH=FILE -DPASSWORD_FILE=FILE [-DCAFILE=FILE]]
#         -P sign_test.cmake
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

execute_process(COMMAND "${OSSLSIGNCODE}" remove-signature -in "${EXE}" -out unsigned.exe
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE removed OUTPUT_QUIET ERROR_QUIET)
if(removed EQUAL 0 AND NOT SIGNED_WITH)
  message(FATAL_ERROR "${EXE} carries a signature the build was not asked to make")
elseif(removed EQUAL 0)
  set(trust "${CAFILE}")
  if(NOT CAFILE)
    set(trust shipped-chain.pem)
    foreach(legacy "" -legacy)
      execute_process(COMMAND "${OPENSSL}" pkcs12 ${legacy} -in "${SIGNED_WITH}" -nokeys
                              -passin "file:${PASSWORD_FILE}" -out ${trust}
                      WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
      if(result EQUAL 0)
        break()
      endif()
    endforeach()
  endif()
  run("verifying the shipped signature" "${OSSLSIGNCODE}" verify -CAfile ${trust} -in "${EXE}")
  message(STATUS "${EXE} is signed and verifies against ${trust}")
elseif(SIGNED_WITH)
  message(FATAL_ERROR "the build was asked to sign with ${SIGNED_WITH}, ${EXE} is not signed")
else()
  file(COPY_FILE "${EXE}" "${WORK}/unsigned.exe")
endif()
run("giving the unsigned copy the program's mode" chmod --reference=${EXE} unsigned.exe)

string(RANDOM LENGTH 24 password)
file(WRITE "${WORK}/password" "${password}\n")
run("making a certificate" "${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -days 2
    -subj "/CN=Zarpo test signer" -keyout key.pem -out cert.pem)
run("making the PKCS#12 file" "${OPENSSL}" pkcs12 -export -inkey key.pem -in cert.pem
    -out signer.p12 -passout file:password)
run("asking the package's newest time" "${PACKER}" newest-time "${PACKAGE}")
string(STRIP "${output}" newest)

separate_arguments(check_args UNIX_COMMAND "${ARGS}")
file(SIZE "${WORK}/unsigned.exe" before)
run("reading the program's mode" stat -c %a unsigned.exe)
set(mode "${output}")
# name, signing time wanted, the environment to sign in
foreach(row "first;${newest};--unset=SOURCE_DATE_EPOCH" "second;${newest};--unset=SOURCE_DATE_EPOCH"
            "epoch;1700000000;SOURCE_DATE_EPOCH=1700000000")
  list(GET row 0 name)
  list(GET row 1 time)
  list(GET row 2 env)
  if(name STREQUAL "second")
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
  endif()
  file(COPY_FILE "${WORK}/unsigned.exe" "${WORK}/${name}.exe")
  run("signing ${name}" ${CMAKE_COMMAND} -E env ${env} ${CMAKE_COMMAND}
      -DPROGRAM=${WORK}/${name}.exe -DPKCS12=${WORK}/signer.p12 -DPASSWORD_FILE=${WORK}/password
      -DPACKER=${PACKER} -DPACKAGE=${PACKAGE}
      -P "${CMAKE_CURRENT_LIST_DIR}/../../cmake/SignProgram.cmake")
  run("verifying ${name}" "${OSSLSIGNCODE}" verify -CAfile cert.pem -in ${name}.exe)
  # osslsigncode shows the time as "Mar  1 09:00:00 2026 GMT".
  set(ENV{SOURCE_DATE_EPOCH} ${time})
  string(TIMESTAMP shown "%b %d %H:%M:%S %Y GMT" UTC)
  string(REGEX REPLACE " 0([1-9]) " "  \\1 " shown "${shown}")
  if(NOT output MATCHES "Signing time: ${shown}")
    message(FATAL_ERROR "${name}: no signing time ${shown} (${time}) in:\n${output}")
  endif()
  run("checking ${name}" "${PYTHON}" "${CHECK}" --exe "${WORK}/${name}.exe" ${check_args})
  run("reading the mode of ${name}" stat -c %a ${name}.exe)
  file(SIZE "${WORK}/${name}.exe" after)
  if(NOT output STREQUAL mode OR NOT after GREATER before)
    message(FATAL_ERROR "${name}: mode ${output} (wanted ${mode}), ${after} bytes (${before})")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files first.exe second.exe
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "two signings of the same program a second apart differ")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "signed and verified: ${before} -> ${after} bytes, the same bytes twice")
