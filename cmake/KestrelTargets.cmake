# Per-target settings shared by every target of the project. Options are applied per target,
# never through global flag overrides.

function(kestrel_target_options target)
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
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# A program of the project.
function(kestrel_executable target)
    kestrel_target_options(${target})
endfunction()

# A GoogleTest program registered with CTest.
function(kestrel_test target)
    add_executable(${target} ${ARGN})
    kestrel_executable(${target})
    target_link_libraries(${target} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KESTREL_TEST=1")
endfunction()
