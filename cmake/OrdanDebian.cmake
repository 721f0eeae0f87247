# What every Debian package of the project holds besides its programs:
# /usr/share/doc/<package>/copyright in the machine-readable format 1.0,
# /usr/share/doc/<package>/changelog.gz with the entry of this version, and
# the guides: README.md.gz and docs/ (each guide gzipped as Debian keeps
# documentation, the screenshots as they are). The copyright and changelog
# are written from the cache variables below and the project's version and
# release date (ORDAN_RELEASE_DATE, YYYY-MM-DD), the source package's name
# ORDAN_SOURCE_PACKAGE and the maintainer CPACK_PACKAGE_CONTACT. Included by
# OrdanInstall.cmake for the top-level project, before the CPack settings.

set(ORDAN_COPYRIGHT_HOLDER "Ordan" CACHE STRING
    "Copyright holder named in the Debian copyright file (and the packages' vendor)")
set(ORDAN_COPYRIGHT_YEARS "" CACHE STRING
    "Years of the copyright, such as 2025-2026; empty: the year of the release date")
set(ORDAN_LICENSE_FILE "" CACHE FILEPATH
    "Text of the licence ORDAN_LICENSE for the Debian copyright file; empty: packaging/<ORDAN_LICENSE>.txt, or the copy in /usr/share/common-licenses for a licence Debian keeps there")

set(ORDAN_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging)
get_filename_component(ORDAN_PACKAGING_DIR ${ORDAN_PACKAGING_DIR} ABSOLUTE)

# ordan_rfc2822_date(<YYYY-MM-DD> <variable>): the day as a Debian changelog
# trailer writes it, such as "Tue, 08 Dec 2026 00:00:00 +0000".
function(ordan_rfc2822_date day variable)
    if(NOT day MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        message(FATAL_ERROR "A release date is written YYYY-MM-DD, not \"${day}\"")
    endif()
    set(year ${CMAKE_MATCH_1})
    math(EXPR month "${CMAKE_MATCH_2}")
    set(dd ${CMAKE_MATCH_3})
    math(EXPR d "${dd}")
    # The day of the week by Sakamoto's method, 0 being Sunday.
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${month} - 1")
    list(GET offsets ${index} offset)
    set(y ${year})
    if(month LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(GET weekdays ${weekday} weekday)
    list(GET months ${index} month)
    set(${variable} "${weekday}, ${dd} ${month} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# The licence's short name and paragraph in the copyright file. Licences
# that Debian keeps in /usr/share/common-licenses are referred to there under
# their Debian names; any other gets its text from ORDAN_LICENSE_FILE.
set(ORDAN_COMMON_LICENSES
    "GPL-2.0-only=GPL-2=GPL-2" "GPL-2.0-or-later=GPL-2+=GPL-2"
    "GPL-3.0-only=GPL-3=GPL-3" "GPL-3.0-or-later=GPL-3+=GPL-3"
    "LGPL-2.1-only=LGPL-2.1=LGPL-2.1" "LGPL-2.1-or-later=LGPL-2.1+=LGPL-2.1"
    "LGPL-3.0-only=LGPL-3=LGPL-3" "LGPL-3.0-or-later=LGPL-3+=LGPL-3"
    "Apache-2.0=Apache-2.0=Apache-2.0" "MPL-2.0=MPL-2.0=MPL-2.0")
set(ORDAN_DEBIAN_LICENSE ${ORDAN_LICENSE})
set(ORDAN_COMMON_LICENSE)
foreach(entry IN LISTS ORDAN_COMMON_LICENSES)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 spdx)
    if(spdx STREQUAL ORDAN_LICENSE)
        list(GET entry 1 ORDAN_DEBIAN_LICENSE)
        list(GET entry 2 ORDAN_COMMON_LICENSE)
    endif()
endforeach()
set(ORDAN_LICENSE_TEXT_FILE ${ORDAN_LICENSE_FILE})
if(NOT ORDAN_LICENSE_TEXT_FILE AND NOT ORDAN_COMMON_LICENSE)
    set(ORDAN_LICENSE_TEXT_FILE ${ORDAN_PACKAGING_DIR}/${ORDAN_LICENSE}.txt)
endif()
if(ORDAN_LICENSE_TEXT_FILE)
    if(NOT EXISTS ${ORDAN_LICENSE_TEXT_FILE})
        message(FATAL_ERROR "No text of the licence ${ORDAN_LICENSE} for the Debian copyright "
                            "file: set ORDAN_LICENSE_FILE to a file holding it")
    endif()
    file(READ ${ORDAN_LICENSE_TEXT_FILE} ORDAN_LICENSE_PARAGRAPH)
else()
    set(ORDAN_LICENSE_PARAGRAPH
        "On Debian systems, the complete text of the licence ${ORDAN_DEBIAN_LICENSE} can be found in\n/usr/share/common-licenses/${ORDAN_COMMON_LICENSE}.")
endif()
# Every line indented by one space, an empty line written as " .".
string(STRIP "${ORDAN_LICENSE_PARAGRAPH}" ORDAN_LICENSE_PARAGRAPH)
string(REGEX REPLACE "[ \t]+\n" "\n" ORDAN_LICENSE_PARAGRAPH "${ORDAN_LICENSE_PARAGRAPH}")
string(REPLACE "\n" "\n " ORDAN_LICENSE_PARAGRAPH " ${ORDAN_LICENSE_PARAGRAPH}")
while(ORDAN_LICENSE_PARAGRAPH MATCHES "\n \n")
    string(REPLACE "\n \n" "\n .\n" ORDAN_LICENSE_PARAGRAPH "${ORDAN_LICENSE_PARAGRAPH}")
endwhile()

if(ORDAN_COPYRIGHT_YEARS)
    set(ORDAN_COPYRIGHT_YEARS_WRITTEN ${ORDAN_COPYRIGHT_YEARS})
else()
    string(SUBSTRING "${ORDAN_RELEASE_DATE}" 0 4 ORDAN_COPYRIGHT_YEARS_WRITTEN)
endif()
ordan_rfc2822_date(${ORDAN_RELEASE_DATE} ORDAN_RELEASE_DATE_RFC2822)

set(ORDAN_COPYRIGHT_YEARS ${ORDAN_COPYRIGHT_YEARS_WRITTEN})
set(ORDAN_DEBIAN_DOCS ${CMAKE_CURRENT_BINARY_DIR}/debian-doc)
configure_file(${ORDAN_PACKAGING_DIR}/copyright.in ${ORDAN_DEBIAN_DOCS}/copyright @ONLY)
configure_file(${ORDAN_PACKAGING_DIR}/changelog.in ${ORDAN_DEBIAN_DOCS}/changelog @ONLY)
unset(ORDAN_COPYRIGHT_YEARS)
if(NOT ORDAN_GZIP)
    message(FATAL_ERROR "gzip is needed for the Debian packages' changelog")
endif()
# -n: no name or time stamp in the file, the same bytes every time.
execute_process(COMMAND ${ORDAN_GZIP} -9nc ${ORDAN_DEBIAN_DOCS}/changelog
                OUTPUT_FILE ${ORDAN_DEBIAN_DOCS}/changelog.gz RESULT_VARIABLE ORDAN_GZIP_FAILED)
if(ORDAN_GZIP_FAILED)
    message(FATAL_ERROR "gzip failed on ${ORDAN_DEBIAN_DOCS}/changelog")
endif()

# The guides, README.md and docs/*.md, gzipped when built (-n: the same bytes
# every time); a guide added to docs/ is picked up when the build is
# configured again, which the glob asks for.
get_filename_component(ORDAN_GUIDES_SOURCE ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(GLOB ORDAN_GUIDES RELATIVE ${ORDAN_GUIDES_SOURCE} CONFIGURE_DEPENDS
     ${ORDAN_GUIDES_SOURCE}/docs/*.md)
list(PREPEND ORDAN_GUIDES README.md)
file(GLOB ORDAN_GUIDE_IMAGES CONFIGURE_DEPENDS ${ORDAN_GUIDES_SOURCE}/docs/*.png)
set(ORDAN_GUIDES_BUILT)
set(ORDAN_GUIDES_DOCS)
foreach(guide ${ORDAN_GUIDES})
    set(copy ${ORDAN_DEBIAN_DOCS}/guides/${guide})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${ORDAN_GUIDES_SOURCE}/${guide} ${copy}
        COMMAND ${ORDAN_GZIP} -9nf ${copy}
        DEPENDS ${ORDAN_GUIDES_SOURCE}/${guide}
        COMMENT "Compressing ${guide} for the packages"
        VERBATIM)
    list(APPEND ORDAN_GUIDES_BUILT ${copy}.gz)
    if(guide MATCHES "^docs/")
        list(APPEND ORDAN_GUIDES_DOCS ${copy}.gz)
    endif()
endforeach()
add_custom_target(ordan-guides ALL DEPENDS ${ORDAN_GUIDES_BUILT})

# ordan_debian_package(<component> <package> <description>): the install
# component <component> becomes the Debian package <package>, described by
# <description> (its first line the synopsis, then the long description,
# paragraphs separated by an empty line), with the copyright file and the
# changelog, and the guides. A package named otherwise than the source package
# ORDAN_SOURCE_PACKAGE names that as its Source.
function(ordan_debian_package component package description)
    install(FILES ${ORDAN_DEBIAN_DOCS}/copyright ${ORDAN_DEBIAN_DOCS}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    install(FILES ${ORDAN_DEBIAN_DOCS}/guides/README.md.gz
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    install(FILES ${ORDAN_GUIDES_DOCS} ${ORDAN_GUIDE_IMAGES}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}/docs COMPONENT ${component})
    string(TOUPPER ${component} name)
    set(CPACK_DEBIAN_${name}_PACKAGE_NAME ${package} PARENT_SCOPE)
    if(NOT package STREQUAL ORDAN_SOURCE_PACKAGE)
        set(CPACK_DEBIAN_${name}_PACKAGE_SOURCE ${ORDAN_SOURCE_PACKAGE} PARENT_SCOPE)
    endif()
    set(CPACK_DEBIAN_${name}_DESCRIPTION "${description}" PARENT_SCOPE)
endfunction()
