# Settings of a Windows build (the windows preset cross-compiles with MinGW-w64; an MSVC build
# uses the same rules).
#
# Deliverables: every DLL carries the deliverable's own name (Kestrellib.dll, Segwrap.dll,
# VantorDll.dll, kzip.dll, Scrivet.dll, KestrelCopyLib.dll, and the project's KestrelPlatform.dll
# and KestrelSim.dll), and programs, DLLs and test programs all go to one folder, bin/, where
# Windows looks for a program's DLLs first.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)

# The Windows headers without their min/max macros and rarely used parts.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

if(MINGW)
    # printf-style functions of the C runtime with C99 formats (%zu, %lld) everywhere.
    add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
    # The run-time DLLs of the compiler beside the programs, so that bin/ runs as it is (under
    # Wine too). Found through the compiler itself.
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
            find_file(path_${dll} ${dll} PATHS /usr/${KESTREL_MINGW_TRIPLET}/lib
                      /usr/${KESTREL_MINGW_TRIPLET}/bin NO_DEFAULT_PATH)
            set(path ${path_${dll}})
        endif()
        if(path)
            file(COPY ${path} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
        else()
            message(WARNING "${dll} not found: programs in bin/ will not start without it")
        endif()
    endforeach()
endif()

# CLI11 is header-only; the host's package file points into the host's /usr/include, which must
# not reach a cross build. The headers are copied into the build tree instead.
if(CMAKE_CROSSCOMPILING AND NOT TARGET CLI11::CLI11)
    find_path(KESTREL_CLI11_HOST_HEADERS CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
              NO_DEFAULT_PATH)
    if(KESTREL_CLI11_HOST_HEADERS)
        file(COPY ${KESTREL_CLI11_HOST_HEADERS}/CLI DESTINATION ${PROJECT_BINARY_DIR}/cli11/include)
        add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
        target_include_directories(CLI11::CLI11 INTERFACE ${PROJECT_BINARY_DIR}/cli11/include)
        set(CLI11_FOUND TRUE)
    endif()
endif()

# The station's programs carry the manifest that asks for the rights device access needs
# (cmake/windows/kestrel-station.manifest).
enable_language(RC)
function(kestrel_windows_manifest target)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/kestrel-station.rc)
endfunction()
