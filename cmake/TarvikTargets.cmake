# Shared build settings and the one rule for core folders: every *.cpp in a
# folder belongs to tarvik_core, except *Test.cpp, which make that folder's
# test executable, and *Fuzz.cpp, the fuzz targets (Core/Testing/Fuzz.hpp):
# built into the test executable, which replays their kept inputs, and with
# TARVIK_FUZZ each into a libFuzzer program of its own (scripts/fuzz).

# Warnings are errors for whoever builds and tests; ./run turns that off, so
# that a compiler's false alarm in the optimised build never keeps a user from
# starting the program.
option(TARVIK_WARNINGS_AS_ERRORS "Fail the build on a compiler warning" ON)
add_library(tarvik_warnings INTERFACE)
target_compile_options(tarvik_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
if(TARVIK_WARNINGS_AS_ERRORS)
    target_compile_options(tarvik_warnings INTERFACE -Werror)
endif()

# A folder's *.cpp below the calling CMakeLists: its code, its tests
# (*Test.cpp) and, when a fourth variable is named, its fuzz targets (*Fuzz.cpp).
function(tarvik_folder_sources folder code_var tests_var)
    file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp")
    set(code "")
    set(tests "")
    set(fuzz "")
    foreach(source IN LISTS sources)
        if(source MATCHES "Test\\.cpp$")
            list(APPEND tests "${source}")
        elseif(source MATCHES "Fuzz\\.cpp$")
            list(APPEND fuzz "${source}")
        else()
            list(APPEND code "${source}")
        endif()
    endforeach()
    set(${code_var} "${code}" PARENT_SCOPE)
    set(${tests_var} "${tests}" PARENT_SCOPE)
    if(ARGC GREATER 3)
        set(${ARGV3} "${fuzz}" PARENT_SCOPE)
    endif()
endfunction()

# One libFuzzer program per target, named after it, in build-dir/fuzzers.
function(tarvik_fuzzers fuzz_sources)
    foreach(source IN LISTS fuzz_sources)
        get_filename_component(stem "${source}" NAME_WE)
        string(REGEX REPLACE "Fuzz$" "" name "${stem}")
        set(program "tarvik_fuzz_${name}")
        add_executable(${program} "${source}"
                       "${PROJECT_SOURCE_DIR}/Core/Testing/Fuzz/LibFuzzerEntry.cpp")
        target_link_libraries(${program} PRIVATE tarvik_core PkgConfig::TagLib)
        target_link_options(${program} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${program} PROPERTIES OUTPUT_NAME "${name}"
                              RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzzers")
        add_dependencies(tarvik_fuzzers ${program})
    endforeach()
endfunction()

function(tarvik_core_folder folder)
    tarvik_folder_sources(${folder} library_sources test_sources fuzz_sources)
    target_sources(tarvik_core PRIVATE ${library_sources})
    if(TARVIK_FUZZ)
        tarvik_fuzzers("${fuzz_sources}")
    endif()

    if(TARVIK_BUILD_TESTS AND test_sources)
        string(TOLOWER "${folder}" lower)
        set(test_target "tarvik_${lower}_tests")
        add_executable(${test_target} ${test_sources} ${fuzz_sources})
        target_link_libraries(${test_target} PRIVATE tarvik_core tarvik_testing tarvik_warnings
                              GTest::gtest_main GTest::gmock)
        gtest_discover_tests(${test_target}
            DISCOVERY_TIMEOUT 120
            PROPERTIES TIMEOUT 600 LABELS "${lower}")
    endif()
endfunction()
