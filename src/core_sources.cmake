# SPDX-License-Identifier: Apache-2.0
# The core's sources, no widget toolkit and no I/O, in its layers from the bottom up (each
# folder includes only those before it; scripts/check_layers.sh says so): the interfaces, the
# protocol's tables, the status replies, the line, the projector vocabulary for programs, the
# window's parts and the form that assembles them. Shared by the main build and the fuzz
# build, so the two compile the same core.
set(PJ_CORE_FOLDERS core protocol status link projector panel app)
set(PJ_CORE_SOURCES)
foreach(folder IN LISTS PJ_CORE_FOLDERS)
    file(GLOB folder_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${folder}/*.cpp)
    list(APPEND PJ_CORE_SOURCES ${folder_sources})
endforeach()
