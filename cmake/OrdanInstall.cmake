# Installation as a desktop program: executables in bin/, a manual page for
# each (made by help2man from its --help), the desktop entry, the icon at the
# usual sizes of the hicolor theme (drawn by make-icon), and the AppStream
# description; and, for the top-level project, a Debian package by CPack
# (scripts/package.sh).

include(GNUInstallDirs)

# Where the project lives on the web; the AppStream file names it and the
# README's screenshot under it. Set these to the project's real addresses.
set(ORDAN_PROJECT_URL "https://ordan.example/configurator" CACHE STRING
    "Home page named in the AppStream file and the Debian package")
set(ORDAN_SCREENSHOT_URL "${ORDAN_PROJECT_URL}/docs/screenshot.png" CACHE STRING
    "Address of docs/screenshot.png for the AppStream file")
set(ORDAN_APPSTREAM_ID "ru.ordan.configurator" CACHE STRING
    "Reverse-DNS component id of the AppStream file")
set(ORDAN_LICENSE "LicenseRef-proprietary" CACHE STRING
    "SPDX licence expression of the program, for the AppStream file")

find_program(ORDAN_HELP2MAN help2man)
find_program(ORDAN_GZIP gzip)
if(NOT ORDAN_HELP2MAN)
    message(STATUS "help2man not found: no manual pages (scripts/install-deps.sh installs it)")
endif()

# ordan_install_program(<target> <one-line description>): installs the
# executable and, where help2man is at hand, its manual page, made from the
# program's own --help and --version when it is built.
function(ordan_install_program target description)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(NOT ORDAN_HELP2MAN)
        return()
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${target}.1)
    set(commands
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${ORDAN_HELP2MAN} --no-info --section=1 --name=${description}
                --output=${page} $<TARGET_FILE:${target}>)
    set(installed ${page})
    if(ORDAN_GZIP)
        # Debian keeps manual pages compressed; -n leaves out the time stamp.
        list(APPEND commands COMMAND ${ORDAN_GZIP} -9nf ${page})
        set(installed ${page}.gz)
    endif()
    add_custom_command(OUTPUT ${installed} ${commands}
        DEPENDS ${target}
        COMMENT "Writing the manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${installed})
    install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

ordan_install_program(ordan-configurator
    "configure an Ordan-RS485-Ethernet converter module over a serial port")

# The command-line program, where the build has one. Looked for once the
# whole directory has been read, wherever its target is defined.
function(ordan_install_cli)
    # A CLI that brings its own manual page target is left to itself.
    if(TARGET ordan-cli AND NOT TARGET ordan-cli-man)
        ordan_install_program(ordan-cli
            "read and write an Ordan-RS485-Ethernet converter module from the command line")
    endif()
endfunction()
if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.19)
    cmake_language(DEFER DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} CALL ordan_install_cli)
else()
    ordan_install_cli()
endif()

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/app/ordan-configurator.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(ORDAN_ICON_THEME ${CMAKE_CURRENT_BINARY_DIR}/icons/hicolor)
set(ORDAN_ICON_FILES)
foreach(size 16 32 48 64 128 256)
    list(APPEND ORDAN_ICON_FILES ${ORDAN_ICON_THEME}/${size}x${size}/apps/ordan-configurator.png)
endforeach()
# Under ORDAN_SANITIZE the offscreen plugin's leaks at exit would fail the
# build: the tests' suppressions of Qt's own leaks apply here too.
add_custom_command(OUTPUT ${ORDAN_ICON_FILES}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan-qt.supp:print_suppressions=0"
            $<TARGET_FILE:make-icon> --hicolor ${ORDAN_ICON_THEME}
    DEPENDS make-icon
    COMMENT "Drawing the icon at the hicolor theme's sizes"
    VERBATIM)
add_custom_target(ordan-icons ALL DEPENDS ${ORDAN_ICON_FILES})
install(DIRECTORY ${ORDAN_ICON_THEME} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/app/ordan-configurator.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${ORDAN_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${ORDAN_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

if(NOT ORDAN_TOP_LEVEL)
    return()
endif()

# The Debian package: scripts/package.sh configures with the prefix /usr and
# runs cpack -G DEB.
set(CPACK_PACKAGE_NAME ordan-configurator)
set(CPACK_PACKAGE_VERSION ${ordan_configurator_VERSION})
set(CPACK_PACKAGE_VENDOR "Ordan")
set(CPACK_PACKAGE_CONTACT "Ordan configurator team <support@ordan.example>" CACHE STRING
    "Maintainer of the Debian package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "configurator for the Ordan-RS485-Ethernet converter module")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "configurator for the Ordan-RS485-Ethernet converter module
 A desktop program that reads the parameters of an Ordan-RS485-Ethernet
 converter (an RS-485 to Ethernet bridge) over a serial port, writes them
 back, restarts the module or returns it to its factory settings, and keeps
 parameter sets in .TRset settings files.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORDAN_PROJECT_URL})
# The libraries the executables link to decide the dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
