# libFuzzer targets, on with -DTAVIX_FUZZ=ON (the "fuzz" preset). Included before the libraries
# are added, so that everything the fuzz targets link is built with coverage instrumentation and
# the sanitizers; the targets themselves are in fuzz/.
if(NOT TAVIX_FUZZ)
    return()
endif()

# libFuzzer ships with clang's runtime; gcc has no equivalent.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR
        "TAVIX_FUZZ needs clang (libFuzzer), but the C++ compiler is "
        "${CMAKE_CXX_COMPILER_ID} (${CMAKE_CXX_COMPILER}). Configure with the fuzz preset "
        "(cmake --preset fuzz) or pass -DCMAKE_CXX_COMPILER=clang++ in a fresh build folder.")
endif()

# All fuzz targets and what they link; the fuzz build preset builds only this, not the app.
add_custom_target(tavix_fuzzers)

# Undefined behaviour must stop the run: libFuzzer only counts what ends the process.
set(TAVIX_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
add_compile_options(-fsanitize=fuzzer-no-link ${TAVIX_FUZZ_SANITIZERS})
add_link_options(${TAVIX_FUZZ_SANITIZERS})

# tavix_add_fuzzer(<area> SOURCES ... LIBRARIES ...)
# Builds fuzz_<area>, a libFuzzer executable; its seed corpus is fuzz/corpus/<area>/, which must
# exist so that tools/fuzz.sh finds every target by its corpus.
function(tavix_add_fuzzer area)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    if(NOT IS_DIRECTORY "${PROJECT_SOURCE_DIR}/fuzz/corpus/${area}")
        message(FATAL_ERROR "fuzz target ${area} has no seed corpus in fuzz/corpus/${area}")
    endif()
    set(name fuzz_${area})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzz")
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE tavix_warnings ${ARG_LIBRARIES})
    add_dependencies(tavix_fuzzers ${name})
endfunction()
