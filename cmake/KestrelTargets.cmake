# Per-target settings shared by every target of the project. Options are applied per target,
# never through global flag overrides.

function(kestrel_target_options target)
    # MinGW exports only what is marked once anything is marked (the C exports), so the libraries
    # whose C++ interface is not marked (Kestrellib, Segwrap, ...; used by the station and the
    # tests) export everything, as they do with GCC on Linux. KestrelPlatform and KestrelSim mark
    # their interface (kestrel_shared_library below) and keep the rest hidden.
    get_target_property(type ${target} TYPE)
    if(MINGW AND type STREQUAL "SHARED_LIBRARY")
        target_link_options(${target} PRIVATE
            $<$<NOT:$<BOOL:$<TARGET_PROPERTY:KESTREL_API_MARKED>>>:-Wl,--export-all-symbols>)
    endif()
    target_compile_features(${target} PUBLIC cxx_std_20)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX,C>:-Wall -Wextra>
        $<$<BOOL:${KESTREL_WERROR}>:-Werror>)
    if(KESTREL_SANITIZE)
        target_compile_options(${target} PRIVATE
            -fsanitize=${KESTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=${KESTREL_SANITIZE})
    endif()
    # The fuzz targets link the project's libraries as they are; every target carries libFuzzer's
    # coverage instrumentation so that the fuzzer sees the libraries' branches too.
    if(KESTREL_FUZZ)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    set_target_properties(${target} PROPERTIES
        CXX_EXTENSIONS OFF
        POSITION_INDEPENDENT_CODE ON)
endfunction()

# Process-wide state (the device backend and handle table, the drives backend, the clock mode,
# the message-box handler, the registry hive, the simulated devices' farm) lives in exactly one
# module of a process: the shared libraries KestrelPlatform and KestrelSim. Kestrellib, the other
# libraries, the programs and the tests all link them and call into that one instance; nothing
# relies on one module's symbols overriding another's (ELF symbol interposition), which Windows
# DLLs do not have. Such a library exports only what its headers mark with its API macro
# (platform/export.h); everything else stays hidden. `define` is the macro set while the
# library itself is compiled, which turns the marks into exports instead of imports.
function(kestrel_shared_library target define)
    kestrel_target_options(${target})
    set_target_properties(${target} PROPERTIES
        DEFINE_SYMBOL ${define}
        KESTREL_API_MARKED ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A program of the project.
function(kestrel_executable target)
    kestrel_target_options(${target})
endfunction()

# A GoogleTest program registered with CTest.
function(kestrel_test target)
    add_executable(${target} ${ARGN} ${PROJECT_SOURCE_DIR}/tests/support/registry_store_for_tests.cpp)
    kestrel_executable(${target})
    # kestrel_platform: the test support (tests/support) sets the environment through it.
    target_link_libraries(${target} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main
                                            kestrel_platform)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(CMAKE_CROSSCOMPILING)
        # Each program runs whole under the emulator (Wine): one start per program instead of one
        # per test; the program's own output names every failed and skipped test.
        add_test(NAME ${target} COMMAND ${target} --gtest_brief=0)
        set_tests_properties(${target} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KESTREL_TEST=1" TIMEOUT 900)
    else()
        gtest_discover_tests(${target}
            DISCOVERY_TIMEOUT 60
            PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KESTREL_TEST=1")
    endif()
endfunction()

# A test program (or part of one) that cannot run on the platform being built: a ctest that
# prints the reason and is reported as skipped, so that nothing is left out silently.
function(kestrel_skipped_test name reason)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "${name} skipped: ${reason}")
    set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
