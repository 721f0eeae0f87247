# cmake -P CheckHeadless.cmake PROGRAM...
# Fails when a program needs Qt's Gui or Widgets library (Qt 5 or Qt 6), as
# the dynamic loader resolves its libraries (ldd; otool -L on macOS), or
# when the list shows no Qt library at all (then it proves nothing). The
# programs that must pass: ordan-cli, the module simulator and the fuzz
# targets, which run where there is no display.
cmake_minimum_required(VERSION 3.16)
find_program(ORDAN_LDD ldd)
find_program(ORDAN_OTOOL otool)
if(ORDAN_LDD)
    set(lister ${ORDAN_LDD})
elseif(ORDAN_OTOOL)
    set(lister ${ORDAN_OTOOL} -L)
else()
    message(FATAL_ERROR "neither ldd nor otool found: cannot list the programs' libraries")
endif()

if(CMAKE_ARGC LESS 4)
    message(FATAL_ERROR "usage: cmake -P CheckHeadless.cmake PROGRAM...")
endif()
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE 3 ${last})
    set(program "${CMAKE_ARGV${i}}")
    execute_process(COMMAND ${lister} "${program}" RESULT_VARIABLE result
                    OUTPUT_VARIABLE libraries ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${program}: cannot list its libraries: ${errors}")
    endif()
    string(REGEX MATCHALL "[^ \t\n/]*Qt[0-9]*(Gui|Widgets|OpenGL)[^ \t\n]*" gui "${libraries}")
    if(gui)
        list(REMOVE_DUPLICATES gui)
        message(FATAL_ERROR "${program} needs ${gui}")
    endif()
    if(NOT libraries MATCHES "Qt[0-9]*Core")
        message(FATAL_ERROR "${program}: no Qt Core among its libraries:\n${libraries}")
    endif()
    message(STATUS "${program}: no Qt Gui or Widgets")
endforeach()
