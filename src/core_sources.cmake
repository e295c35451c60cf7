# SPDX-License-Identifier: Apache-2.0
# The core's sources: the window's state record and every handler, with no widget toolkit.
# Shared by the main build and the fuzz build, so the two compile the same core.
file(GLOB PJ_CORE_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_LIST_DIR}/app/*.cpp ${CMAKE_CURRENT_LIST_DIR}/link/*.cpp
     ${CMAKE_CURRENT_LIST_DIR}/protocol/*.cpp ${CMAKE_CURRENT_LIST_DIR}/status/*.cpp
     ${CMAKE_CURRENT_LIST_DIR}/panel/*.cpp)
