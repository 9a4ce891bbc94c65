# Two signed builds of the updater, each configured and built from nothing in a folder of its
# own, at different moments, with the same sources, package, version and key, must give the
# same bytes; each must verify with -CAfile.
#   cmake -DSOURCE=DIR -DWORK=DIR -DGENERATOR=... -DTOOLCHAIN=FILE -DPACKAGE=FILE -DVERSION=x.y.z
#         -P reproducible.cmake
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
endfunction()

string(RANDOM LENGTH 24 password)
file(WRITE "${WORK}/password" "${password}\n")
run("making a certificate" "${OPENSSL}" req -x509 -newkey rsa:2048 -nodes -days 2
    -subj "/CN=Zarpo test signer" -keyout key.pem -out cert.pem)
run("making the PKCS#12 file" "${OPENSSL}" pkcs12 -export -inkey key.pem -in cert.pem
    -out signer.p12 -passout file:password)
foreach(build one two)
  run("configuring ${build}" ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH
      ${CMAKE_COMMAND} -S "${SOURCE}" -B ${build} -G "${GENERATOR}" --toolchain "${TOOLCHAIN}"
      -DCMAKE_BUILD_TYPE=MinSizeRel -DZARPO_TESTS=OFF -DZARPO_PACKAGE=${PACKAGE}
      -DZARPO_RELEASE_VERSION=${VERSION} -DZARPO_SIGN_PKCS12=${WORK}/signer.p12
      -DZARPO_SIGN_PASSWORD_FILE=${WORK}/password)
  run("building ${build}" ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH
      ${CMAKE_COMMAND} --build ${build} --target ZarpoUpdate)
  run("verifying ${build}" "${OSSLSIGNCODE}" verify -CAfile cert.pem -in ${build}/ZarpoUpdate.exe)
endforeach()
execute_process(COMMAND cmp -l one/ZarpoUpdate.exe two/ZarpoUpdate.exe WORKING_DIRECTORY "${WORK}"
                RESULT_VARIABLE differ OUTPUT_VARIABLE bytes)
if(differ)
  string(REGEX MATCHALL "[^\n]+" lines "${bytes}")
  list(LENGTH lines count)
  message(FATAL_ERROR "two signed builds differ in ${count} bytes")
endif()
file(SIZE "${WORK}/one/ZarpoUpdate.exe" size)
file(REMOVE_RECURSE "${WORK}")
message(STATUS "two signed builds, the same ${size} bytes")
