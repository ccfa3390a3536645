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

# Programs export their symbols so that the process-wide platform services (message-box
# handler, clock mode, device backend) resolve to one instance shared with the libraries.
function(kestrel_executable target)
    kestrel_target_options(${target})
    if(KESTREL_SANITIZE MATCHES "address")
        target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/asan_default_options.cpp)
    endif()
    set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
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
