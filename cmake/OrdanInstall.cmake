# Installation: executables in bin/, a manual page for each (made by help2man
# from its --help), and for each window its desktop entry, its icon at the
# usual sizes of the hicolor theme and its AppStream description. Every file
# belongs to an install component, and each component is one Debian package,
# built by CPack for the top-level project (scripts/package.sh):
#
#   component     package             holds
#   cli           ordan-cli           ordan-cli and its manual page: Qt Core,
#                                     SerialPort, Network and SQL, no desktop
#   configurator  ordan-configurator  the windows, with their manual pages,
#                                     desktop entries, icons, AppStream files
#
# Both packages come from one build; each program links the project's static
# libraries, so no shared library of ours is installed. Each package has its
# copyright, its changelog and the guides (README.md, docs/) under
# /usr/share/doc/<package>/ (OrdanDebian.cmake).
#
# Another window goes into the ordan-configurator package with one call of
# ordan_install_window() after its target is defined, as site/CMakeLists.txt
# does for ordan-site, and a sentence for it in the package's description
# at the end.

include(GNUInstallDirs)

# Where the project lives on the web; the AppStream file names it and the
# screenshot of docs/ under it. Set these to the project's real addresses.
set(ORDAN_PROJECT_URL "https://ordan.example/configurator" CACHE STRING
    "Home page named in the AppStream file and the Debian package")
set(ORDAN_SCREENSHOT_URL "${ORDAN_PROJECT_URL}/docs/screenshot.png" CACHE STRING
    "Address of docs/screenshot.png for the AppStream file")
set(ORDAN_APPSTREAM_ID "ru.ordan.configurator" CACHE STRING
    "Reverse-DNS component id of the AppStream file")
set(ORDAN_LICENSE "LicenseRef-proprietary" CACHE STRING
    "SPDX licence expression of the program, for the AppStream file and the Debian copyright file")

# What the icon drawing step of a sanitized build suppresses, as the tests do.
set(ORDAN_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_SOURCE_DIR}/tests/lsan-qt.supp)

find_program(ORDAN_HELP2MAN help2man)
find_program(ORDAN_GZIP gzip)
if(NOT ORDAN_HELP2MAN)
    message(STATUS "help2man not found: no manual pages (scripts/install-deps.sh installs it)")
endif()

# ordan_install_program(<target> <one-line description> <component>):
# installs the executable and, where help2man is at hand, its manual page,
# made from the program's own --help and --version when it is built.
function(ordan_install_program target description component)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
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
    install(FILES ${installed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

# ordan_install_window(<target> <one-line description> <component>
#                      DESKTOP <desktop entry>
#                      METAINFO <AppStream template> [APPSTREAM_ID <id>]
#                      ICON <file.svg or square file.png> | ICON_COMMAND <command> [<arg>...])
# installs a window program as ordan_install_program() does, with its desktop
# entry, its AppStream file (the template configured with @ONLY, in which
# @ORDAN_APPSTREAM_ID@ is the given id, by default ORDAN_APPSTREAM_ID) and its
# icon, named after the target: an image file as it is (SVG as scalable, PNG
# at its size), or drawn at build time by a command that gets the hicolor
# theme directory as its last argument and writes <N>x<N>/apps/<target>.png
# there for N = 16, 32, 48, 64, 128 and 256. A command whose first word is an
# executable target defined before the call runs the program built here.
function(ordan_install_window target description component)
    cmake_parse_arguments(PARSE_ARGV 3 arg "" "DESKTOP;METAINFO;APPSTREAM_ID;ICON" "ICON_COMMAND")
    if(NOT arg_DESKTOP OR NOT arg_METAINFO OR (NOT arg_ICON AND NOT arg_ICON_COMMAND))
        message(FATAL_ERROR "ordan_install_window(${target}): DESKTOP, METAINFO and ICON or "
                            "ICON_COMMAND are needed")
    endif()
    ordan_install_program(${target} "${description}" ${component})

    get_filename_component(desktop ${arg_DESKTOP} ABSOLUTE)
    install(FILES ${desktop} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
            COMPONENT ${component})

    if(arg_APPSTREAM_ID)
        set(ORDAN_APPSTREAM_ID ${arg_APPSTREAM_ID})
    endif()
    get_filename_component(template ${arg_METAINFO} ABSOLUTE)
    set(metainfo ${CMAKE_CURRENT_BINARY_DIR}/${ORDAN_APPSTREAM_ID}.metainfo.xml)
    configure_file(${template} ${metainfo} @ONLY)
    install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            COMPONENT ${component})

    set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    if(arg_ICON)
        get_filename_component(icon ${arg_ICON} ABSOLUTE)
        get_filename_component(extension ${icon} LAST_EXT)
        string(TOLOWER "${extension}" extension)
        if(extension STREQUAL ".svg")
            set(size scalable)
        elseif(extension STREQUAL ".png")
            # The width and height, big-endian, after the signature and the
            # IHDR chunk's length and type.
            file(READ ${icon} header OFFSET 16 LIMIT 8 HEX)
            string(SUBSTRING "${header}" 0 8 width)
            string(SUBSTRING "${header}" 8 8 height)
            math(EXPR width "0x${width}")
            math(EXPR height "0x${height}")
            if(NOT width EQUAL height)
                message(FATAL_ERROR "${icon} is ${width}x${height}: an icon is square")
            endif()
            set(size ${width}x${width})
        else()
            message(FATAL_ERROR "${icon}: an icon is an .svg or a .png file")
        endif()
        install(FILES ${icon} DESTINATION ${icons}/${size}/apps RENAME ${target}${extension}
                COMPONENT ${component})
        return()
    endif()

    set(theme ${CMAKE_CURRENT_BINARY_DIR}/icons/${target}/hicolor)
    set(drawn)
    foreach(size 16 32 48 64 128 256)
        list(APPEND drawn ${theme}/${size}x${size}/apps/${target}.png)
    endforeach()
    list(POP_FRONT arg_ICON_COMMAND program)
    set(depends)
    if(TARGET ${program})
        set(depends ${program})
        set(program $<TARGET_FILE:${program}>)
    endif()
    # Under ORDAN_SANITIZE the offscreen plugin's leaks at exit would fail the
    # build: the tests' suppressions of Qt's own leaks apply here too.
    add_custom_command(OUTPUT ${drawn}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                "LSAN_OPTIONS=suppressions=${ORDAN_LSAN_SUPPRESSIONS}:print_suppressions=0"
                ${program} ${arg_ICON_COMMAND} ${theme}
        DEPENDS ${depends}
        COMMENT "Drawing the icon of ${target} at the hicolor theme's sizes"
        VERBATIM)
    add_custom_target(${target}-icons ALL DEPENDS ${drawn})
    install(DIRECTORY ${theme}/ DESTINATION ${icons} COMPONENT ${component})
endfunction()

ordan_install_window(ordan-configurator
    "configure an Ordan-RS485-Ethernet converter module over a serial port" configurator
    DESKTOP ${CMAKE_CURRENT_SOURCE_DIR}/app/ordan-configurator.desktop
    METAINFO ${CMAKE_CURRENT_SOURCE_DIR}/app/ordan-configurator.metainfo.xml.in
    ICON_COMMAND make-icon --hicolor)

# The command-line program, where the build has one. Looked for once the
# whole directory has been read, wherever its target is defined.
function(ordan_install_cli)
    # A CLI that brings its own manual page target is left to itself.
    if(TARGET ordan-cli AND NOT TARGET ordan-cli-man)
        ordan_install_program(ordan-cli
            "read and write an Ordan-RS485-Ethernet converter module from the command line" cli)
    endif()
endfunction()
if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.19)
    cmake_language(DEFER DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} CALL ordan_install_cli)
else()
    ordan_install_cli()
endif()

# The service templates of ordan-cli bridge (ordan-bridge@NAME.service, a
# permanent virtual serial port) and ordan-cli gateway
# (ordan-gateway@NAME.service, a Modbus TCP server for a site), in the cli
# package, where systemd looks for a package's units: /lib/systemd/system on
# Debian 12.
set(ORDAN_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the service unit goes: relative to the prefix, or absolute")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" AND NOT IS_ABSOLUTE "${ORDAN_SYSTEMD_UNIT_DIR}")
    set(ordan_unit_dir "/${ORDAN_SYSTEMD_UNIT_DIR}")
else()
    set(ordan_unit_dir "${ORDAN_SYSTEMD_UNIT_DIR}")
endif()
set(ORDAN_UNIT_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
foreach(unit ordan-bridge@.service ordan-gateway@.service)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/${unit}.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${unit} @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${unit} DESTINATION ${ordan_unit_dir}
            COMPONENT cli)
endforeach()

if(NOT ORDAN_TOP_LEVEL)
    return()
endif()

# The Debian packages: scripts/package.sh configures a Release build with the
# prefix /usr and the compiler and linker flags of dpkg-buildflags, and runs
# cpack -G DEB. Each package gets /usr/share/doc/<package>/copyright
# (machine-readable, from the cache variables below) and changelog.gz (the
# project's version and release date).
set(ORDAN_SOURCE_PACKAGE ordan-configurator)
set(CPACK_PACKAGE_CONTACT "Ordan configurator team <support@ordan.example>" CACHE STRING
    "Maintainer of the Debian packages")
include(${CMAKE_CURRENT_LIST_DIR}/OrdanDebian.cmake)
set(CPACK_PACKAGE_NAME ${ORDAN_SOURCE_PACKAGE})
set(CPACK_PACKAGE_VERSION ${ordan_configurator_VERSION})
set(CPACK_PACKAGE_VENDOR ${ORDAN_COPYRIGHT_HOLDER})

ordan_debian_package(cli ordan-cli
    "command-line tool for the Ordan-RS485-Ethernet converter module
Reads the parameters of Ordan-RS485-Ethernet converters (RS-485 to Ethernet
bridges) over their serial consoles, several modules at once; writes them,
restarts the module, reads it back and compares; restarts a module or
returns it to its factory settings; and commissions a whole site from a CSV
address plan, keeping a record of every module. It needs no graphical
desktop, so it suits a headless machine by the cabinet and scripts.

The desktop window for the same module is in the package ordan-configurator.")

ordan_debian_package(configurator ordan-configurator
    "configurator window for the Ordan-RS485-Ethernet converter module
A desktop program that reads the parameters of an Ordan-RS485-Ethernet
converter (an RS-485 to Ethernet bridge) over a serial port, writes them
back, restarts the module or returns it to its factory settings, and keeps
parameter sets in .TRset settings files. Beside it, ordan-site commissions
and audits a whole site from its address plan in a window, module after
module on each serial port and ports side by side, each module read back.

The command-line tool, for scripts and machines without a desktop, is in the
package ordan-cli.")

# Qt's own texts in the desktop's language (the site window's file dialogs
# and buttons, the serial port's reasons) come from Qt's translations.
if(ORDAN_QT_MAJOR STREQUAL "5")
    set(CPACK_DEBIAN_CONFIGURATOR_PACKAGE_DEPENDS qttranslations5-l10n)
else()
    set(CPACK_DEBIAN_CONFIGURATOR_PACKAGE_DEPENDS qt6-translations-l10n)
endif()

# The site register goes through Qt SQL's drivers, plugins that the
# libraries' dependencies do not name: SQLite (a laptop's register, the
# default) is needed, PostgreSQL (a team's register) recommended.
set(ordan_sql_drivers libqt${ORDAN_QT_MAJOR}sql${ORDAN_QT_MAJOR})
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS ${ordan_sql_drivers}-sqlite)
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS ${ordan_sql_drivers}-psql)
string(APPEND CPACK_DEBIAN_CONFIGURATOR_PACKAGE_DEPENDS ", ${ordan_sql_drivers}-sqlite")
set(CPACK_DEBIAN_CONFIGURATOR_PACKAGE_RECOMMENDS ${ordan_sql_drivers}-psql)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ORDAN_PROJECT_URL})
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The libraries each package's executables link to decide its dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The debugging symbols go to ordan-cli-dbgsym and ordan-configurator-dbgsym
# (.ddeb, as Debian's archive keeps them); the packaged programs are stripped.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/OrdanDebianStrip.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_GENERATOR DEB)
include(CPack)
