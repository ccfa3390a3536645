# GoogleTest and GoogleMock built for the target from Debian's source package (googletest,
# /usr/src/googletest), for cross builds whose target has no packaged GoogleTest. The targets
# get the names the package's own CMake files give them (GTest::gtest ...), so the suites link
# them as usual.
set(KESTREL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
if(NOT EXISTS ${KESTREL_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${KESTREL_GTEST_SOURCE} "
                        "(Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KESTREL_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${library})
        add_library(GTest::${library} ALIAS ${library})
    endif()
endforeach()
