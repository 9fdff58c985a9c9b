# tavix_add_test(<name> SOURCES ... [LIBRARIES ...] [ENVIRONMENT VAR=value ...] [TIMEOUT s] [LABELS ...])
# One QtTest executable per unit, run by CTest on the offscreen platform so that widget tests
# need no display.
function(tavix_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;ENVIRONMENT;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tests")
    target_link_libraries(${name} PRIVATE Qt6::Test tavix_warnings ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
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
