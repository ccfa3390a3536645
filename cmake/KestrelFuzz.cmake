# libFuzzer targets, built where KESTREL_FUZZ is on (clang; the asan preset). Every target of the
# project then carries -fsanitize=fuzzer-no-link besides AddressSanitizer and
# UndefinedBehaviorSanitizer (KestrelTargets.cmake), so a fuzz target links the project's
# libraries as they are and sees their coverage. Each fuzz target is a ctest of label "fuzz"
# (tests/fuzz/run_fuzzer.sh): it replays the target's regression inputs, then fuzzes for
# KESTREL_FUZZ_SECONDS from its checked-in seed corpus. `./dev.sh fuzz MINUTES` runs them longer.

set(KESTREL_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs under ctest")
# Every fuzz target, so that a fuzz run builds only what it runs.
add_custom_target(fuzz_targets)

# kestrel_fuzzer(NAME SOURCES files... LIBS libs... CORPUS dir [REGRESSIONS dir])
#   CORPUS holds the seed inputs (read only), REGRESSIONS every input that once failed, each
#   named after what it caught.
function(kestrel_fuzzer name)
    cmake_parse_arguments(F "" "CORPUS;REGRESSIONS" "SOURCES;LIBS" ${ARGN})
    if(NOT F_CORPUS OR NOT IS_DIRECTORY ${F_CORPUS})
        message(FATAL_ERROR "fuzz target ${name}: no seed corpus at '${F_CORPUS}'")
    endif()
    add_executable(${name} ${F_SOURCES})
    kestrel_executable(${name})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzz_targets ${name})
    add_test(NAME ${name}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/fuzz/run_fuzzer.sh $<TARGET_FILE:${name}>
                     ${KESTREL_FUZZ_SECONDS} ${CMAKE_CURRENT_BINARY_DIR}/${name}-artifacts
                     ${F_CORPUS} ${F_REGRESSIONS})
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
endfunction()
