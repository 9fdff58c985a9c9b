# Tools that the build runs: the firmware image generator (tools/firmware) and the title image
# and icon drawer (tools/title). A native build makes them with everything else. A cross build
# makes them with the build machine's compiler and Qt, as the project tools/host in a folder of
# its own, and imports them under the same target names, so that what runs them needs no case of
# its own.
if(NOT CMAKE_CROSSCOMPILING)
    add_subdirectory(tools/firmware)
    add_subdirectory(tools/title)
    return()
endif()

include(ExternalProject)
set(tavix_host_tools_dir "${CMAKE_BINARY_DIR}/host-tools")
set(tavix_host_tool_paths
    "${tavix_host_tools_dir}/firmware/tavix-firmware-gen"
    "${tavix_host_tools_dir}/tools/make-title")
# No toolchain file is passed on, so the host project gets the build machine's compiler.
ExternalProject_Add(tavix_host_tools
    SOURCE_DIR "${PROJECT_SOURCE_DIR}/tools/host"
    BINARY_DIR "${tavix_host_tools_dir}"
    CMAKE_ARGS
        -DCMAKE_BUILD_TYPE=Release
        "-DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}"
    INSTALL_COMMAND ""
    # ExternalProject does not see the tools' sources; their own build decides what is stale.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${tavix_host_tool_paths})
foreach(tool_path IN LISTS tavix_host_tool_paths)
    get_filename_component(tool "${tool_path}" NAME)
    add_executable(${tool} IMPORTED GLOBAL)
    set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION "${tool_path}")
    add_dependencies(${tool} tavix_host_tools)
endforeach()
