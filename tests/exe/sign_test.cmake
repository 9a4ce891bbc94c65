# The signing step. A program the build signed (SIGNED_WITH, its PKCS#12 file) must verify
# against the chain the build was given. Signed or not, the program without its signature is
# signed here with a throwaway certificate made here: osslsigncode verifies it against that
# certificate, it carries the package's newest time, keeps the program's mode and is larger,
# and the program's own checks (and the security review, signature included) still hold on the
# signed file.
#   cmake -DEXE=FILE -DWORK=DIR -DCHECK=check_exe.py -DPYTHON=... -DARGS="..." -DPACKER=FILE
#         -DPACKAGE=FILE [-DSIGNED_WITH=FILE -DPASSWORD_FILE=FILE [-DCAFILE=FILE]]
#         [-DREVIEW=review_exe.py -DMACHINE=i386|x86_64]
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
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE unsigned OUTPUT_QUIET ERROR_QUIET)
if(unsigned EQUAL 0 AND SIGNED_WITH)
  set(chain "${CAFILE}")
  if(NOT CAFILE)
    set(chain shipped.pem)
    run("reading ${SIGNED_WITH}" "${OPENSSL}" pkcs12 -legacy -in "${SIGNED_WITH}" -nokeys
        -passin "file:${PASSWORD_FILE}" -out ${chain})
  endif()
  run("verifying the build's signature" "${OSSLSIGNCODE}" verify -CAfile ${chain} -in "${EXE}")
elseif(unsigned EQUAL 0)
  message(FATAL_ERROR "${EXE} carries a signature the build was not asked to make")
elseif(SIGNED_WITH)
  message(FATAL_ERROR "the build signs with ${SIGNED_WITH}, but ${EXE} is not signed")
else()
  file(COPY_FILE "${EXE}" "${WORK}/unsigned.exe")
endif()
run("giving the unsigned program its mode" chmod --reference=${EXE} unsigned.exe)
string(RANDOM LENGTH 24 password)
file(WRITE "${WORK}/password" "${password}\n")
run("making a certificate" "${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -days 2
    -subj "/CN=Zarpo test signer" -keyout key.pem -out cert.pem)
run("making the PKCS#12 file" "${OPENSSL}" pkcs12 -export -inkey key.pem -in cert.pem
    -out signer.p12 -passout file:password)
file(COPY_FILE "${WORK}/unsigned.exe" "${WORK}/ZarpoUpdate.exe")
run("signing" ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH ${CMAKE_COMMAND}
    -DPROGRAM=${WORK}/ZarpoUpdate.exe -DPKCS12=${WORK}/signer.p12 -DPASSWORD_FILE=${WORK}/password
    -DPACKER=${PACKER} -DPACKAGE=${PACKAGE}
    -P "${CMAKE_CURRENT_LIST_DIR}/../../cmake/SignProgram.cmake")
run("asking the package's newest time" "${PACKER}" newest-time "${PACKAGE}")
string(STRIP "${output}" newest)
set(ENV{SOURCE_DATE_EPOCH} "${newest}")
string(TIMESTAMP newest "%b %d %H:%M:%S %Y GMT" UTC)
string(REGEX REPLACE " 0([1-9]) " "  \\1 " newest "${newest}")  # as osslsigncode shows a day
run("verifying the signature" "${OSSLSIGNCODE}" verify -CAfile cert.pem -in ZarpoUpdate.exe)
if(NOT output MATCHES "Signing time: ${newest}")
  message(FATAL_ERROR "no signing time ${newest}, the package's newest, in:\n${output}")
endif()
separate_arguments(check_args UNIX_COMMAND "${ARGS}")
run("checking the signed program" "${PYTHON}" "${CHECK}" --exe "${WORK}/ZarpoUpdate.exe"
    ${check_args})
if(REVIEW)
  run("reviewing the signed program" "${PYTHON}" "${REVIEW}" --machine ${MACHINE}
      --signed "${WORK}/ZarpoUpdate.exe" "${WORK}/ZarpoUpdate.exe")
endif()
run("comparing the modes" sh -c "test $(stat -c %a unsigned.exe) = $(stat -c %a ZarpoUpdate.exe)")
file(SIZE "${WORK}/unsigned.exe" before)
file(SIZE "${WORK}/ZarpoUpdate.exe" after)
if(NOT after GREATER before)
  message(FATAL_ERROR "the signed program is no larger than the unsigned one")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "signed and verified: ${before} -> ${after} bytes")
