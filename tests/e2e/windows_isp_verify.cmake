# The Windows build's kestrel-cli end to end (run by ctest under the emulator, Wine): a demo
# workspace, then `isp verify` on its eight simulated devices. Passes when the run exits 0, every
# device is read back VERIFIED, and the simulated station left the system registry alone (its
# devices' entries are in the workspace's registry hive).
# Variables: EMULATOR, CLI, WORK (a folder this test may empty), HOST_WORK (WORK as the emulated
# program names it).
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

execute_process(COMMAND ${EMULATOR} "${CLI}" demo-workspace "${HOST_WORK}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "demo-workspace exited ${status}:\n${out}")
endif()

execute_process(COMMAND ${EMULATOR} "${CLI}" --home "${HOST_WORK}"
                        --sim-config "${HOST_WORK}\\devices.ini" isp verify
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT status EQUAL 0)
    message(FATAL_ERROR "isp verify exited ${status}")
endif()
string(REGEX MATCHALL "-> VERIFIED" verified "${out}")
list(LENGTH verified count)
if(NOT count EQUAL 8)
    message(FATAL_ERROR "${count} of 8 devices verified")
endif()
if(NOT EXISTS "${WORK}/registry.hive")
    message(FATAL_ERROR "the simulated devices' registry entries are not in the workspace's hive")
endif()
