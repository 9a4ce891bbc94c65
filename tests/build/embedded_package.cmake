# A ready package that the updater would refuse fails the build, with the reason, and nothing is
# embedded; configure says which package it embeds, and -DZARPO_PACKAGE= goes back to the
# sample release, as an empty ZARPO_RELEASE_VERSION goes back to the default; a package that
# names no file fails every configure until it is replaced. Runs a build of its own in WORK: the
# project's packer and the package step.
#   cmake -DSOURCE=DIR -DWORK=DIR -DGENERATOR=NAME [-DTOOLCHAIN=FILE] -P embedded_package.cmake
# TOOLCHAIN: the calling build's, so that a cross build (host32) checks its own packer.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(bad "${WORK}/release.pkg")
file(WRITE "${bad}" "not a package, only text\n")
file(SHA256 "${bad}" digest)
file(SIZE "${bad}" size)
set(build "${WORK}/build")
set(toolchain "")
if(TOOLCHAIN)
  set(toolchain "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}")
endif()

function(expect_in text wanted what)
  string(FIND "${text}" "${wanted}" at)
  if(at LESS 0)
    message(FATAL_ERROR "${what}: '${wanted}' not found in:\n${text}")
  endif()
endfunction()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${build}" -G "${GENERATOR}"
          -DZARPO_PACKAGE=${bad} -DZARPO_TESTS=OFF -DZARPO_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release
          ${toolchain}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${out}${err}")
endif()
expect_in("${out}" "Embedded package: ${bad} (not a package, ${size} bytes, SHA-256 ${digest})"
          "configure")

execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}" --target zarpo_package_file
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(result EQUAL 0)
  message(FATAL_ERROR "a text file as the package built:\n${out}${err}")
endif()
expect_in("${out}${err}"
  "length: the header says 544501614 stored bytes, the file has ${size}" "build")
if(EXISTS "${build}/package.bin")
  message(FATAL_ERROR "the refused package was embedded all the same")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DZARPO_PACKAGE= "${build}"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
expect_in("${out}" "Embedded package: the sample release" "configure without a package")

# A package that names no file fails this configure and the next (which keeps 2.1.0 all the
# same); an empty version then goes back to the default.
foreach(args "-DZARPO_PACKAGE=${WORK}/missing.pkg" "-DZARPO_RELEASE_VERSION=2.1.0"
             "-DZARPO_PACKAGE=;-DZARPO_RELEASE_VERSION=")
  execute_process(COMMAND ${CMAKE_COMMAND} ${args} "${build}" RESULT_VARIABLE result
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${err}" "ZARPO_PACKAGE names no file:" refused)
  if(args MATCHES "ZARPO_PACKAGE=;" AND NOT result EQUAL 0
     OR NOT args MATCHES "ZARPO_PACKAGE=;" AND (result EQUAL 0 OR refused LESS 0))
    message(FATAL_ERROR "configure ${args} exited ${result}:\n${out}${err}")
  endif()
endforeach()
file(STRINGS "${build}/CMakeCache.txt" cached REGEX "^ZARPO_RELEASE_VERSION:")
if(NOT cached MATCHES "=[0-9]+\\.[0-9]+\\.[0-9]+$" OR cached MATCHES "=2\\.1\\.0$")
  message(FATAL_ERROR "an empty ZARPO_RELEASE_VERSION left ${cached}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "a refused package fails the build, and configure names what it embeds")
