# zarpo-pack stamp under Wine: the updater this build made, given its package again as version
# 4.5.6, twice; both programs the same bytes, passing check_exe.py.
#   cmake -DWINE=wine64 -DPACKER=zarpo-pack.exe -DEXE=ZarpoUpdate.exe -DPACKAGE=FILE
#         -DWORK=DIR -DCHECK=check_exe.py -DPYTHON=python3 -DMACHINE=x86_64 -P stamp_test.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/prefix")
set(ENV{WINEPREFIX} "${WORK}/prefix")
set(ENV{WINEDEBUG} "-all")
foreach(run first second)
  execute_process(COMMAND ${WINE} ${PACKER} stamp --stub ${EXE} --package ${PACKAGE}
                          --version 4.5.6 --output ${WORK}/${run}.exe
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "stamp failed (${failed})")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/first.exe ${WORK}/second.exe
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "two stamps of the same input differ")
endif()
execute_process(COMMAND ${PYTHON} ${CHECK} --exe ${WORK}/first.exe --package ${PACKAGE}
                        --version 4.5.6 --machine ${MACHINE}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "check_exe.py fails the stamped program")
endif()
