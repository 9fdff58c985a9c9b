# tavix_add_test(<name> SOURCES ... [LIBRARIES ...] [ENVIRONMENT VAR=value ...] [TIMEOUT s] [LABELS ...])
# One QtTest executable per unit, run by CTest on the offscreen platform so that widget tests
# need no display.

# A cross build runs each test through the emulator, and the emulator preloads a library into it
# that lets it start child processes under qemu-user (tests/support/emulation).
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    set(TAVIX_EMULATION_PRELOAD "${CMAKE_BINARY_DIR}/tests/libtavixemulation.so")
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -E "LD_PRELOAD=${TAVIX_EMULATION_PRELOAD}")
elseif(CMAKE_CROSSCOMPILING)
    message(WARNING "No emulator for ${CMAKE_SYSTEM_PROCESSOR} (qemu-user): the tests are built, "
        "but ctest cannot run them on this machine.")
endif()

function(tavix_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    target_link_libraries(${name} PRIVATE Qt6::Test tavix_warnings ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    if(TAVIX_EMULATION_PRELOAD)
        add_dependencies(${name} tavixemulation)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}"
        TIMEOUT ${ARG_TIMEOUT})
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    # tavix_tests_<label> builds the tests of one label, for runs of those alone (tools/dev.sh).
    foreach(label IN LISTS ARG_LABELS)
        if(NOT TARGET tavix_tests_${label})
            add_custom_target(tavix_tests_${label})
        endif()
        add_dependencies(tavix_tests_${label} ${name})
    endforeach()
endfunction()
