# cmake -DORDAN_SOURCE_DIR=<root> -P CheckLayers.cmake
# Fails when a source includes a header of a folder it may not use. Headers
# are included by their path from the root ("engine/writejob.h"); the
# layers depend one way only, and the window's form (ui_mainwindow.h) is the
# window's own.
cmake_minimum_required(VERSION 3.16)
if(NOT ORDAN_SOURCE_DIR)
    message(FATAL_ERROR "give -DORDAN_SOURCE_DIR=<the project's root>")
endif()

# The project's folders whose headers others include.
set(folders protocol engine settings window cli site)
# What each folder may include besides its own headers.
set(allowed_protocol)
set(allowed_engine protocol)
set(allowed_settings protocol)
set(allowed_window protocol engine settings)
set(allowed_cli protocol engine settings)
set(allowed_site protocol engine settings)
set(allowed_tools/demo protocol engine settings window)
# The simulator is the tests' independent statement of the module: it uses
# nothing of the configurator.
set(allowed_tools/modulesim)
set(allowed_tools/make-icon)

set(problems)
foreach(folder protocol engine settings window cli site tools/demo tools/modulesim
        tools/make-icon)
    file(GLOB sources ${ORDAN_SOURCE_DIR}/${folder}/*.cpp ${ORDAN_SOURCE_DIR}/${folder}/*.h)
    if(NOT sources)
        list(APPEND problems "${folder}/: no sources (moved? then update this check)")
    endif()
    foreach(source ${sources})
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        file(RELATIVE_PATH name ${ORDAN_SOURCE_DIR} ${source})
        foreach(line ${includes})
            string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" header "${line}")
            if(header STREQUAL "ui_mainwindow.h" AND NOT folder STREQUAL "window")
                list(APPEND problems "${name}: includes the window's form ${header}")
            endif()
            if(NOT header MATCHES "^([^/]+)/")
                continue()
            endif()
            set(used ${CMAKE_MATCH_1})
            if(used STREQUAL folder OR NOT used IN_LIST folders)
                continue()
            endif()
            if(NOT used IN_LIST allowed_${folder})
                list(APPEND problems "${name}: includes ${header} (${folder}/ may not use ${used}/)")
            endif()
        endforeach()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
message(STATUS "every folder includes only the layers it may use")
