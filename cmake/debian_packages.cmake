# Debian packages, made by `cpack -G DEB` in a Release build directory: one
# package for each install component, named after the project:
#
#   launcher   the launcher, its invocation links and its manual pages; with
#              the default static link it depends on nothing at all;
#   devbridge  the development bridge, the example commands and its page.
#
# The version is the project's; packages made upstream are native, so there
# is no Debian revision. Dependencies on shared libraries are found by
# dpkg-shlibdeps (dpkg-dev) from the binaries themselves.
#
# `cpack -G TGZ` makes one archive per component of the same files, named
# <package>-<version>-<system>-<architecture>.tar.gz: the launcher's holds the
# executable, velmot_doctor, the invocation links and the manual pages. On
# macOS the archive is the only package. A cross build (cmake/toolchains/)
# names the target's Debian architecture in VELMOT_DEBIAN_ARCH, which both
# kinds of package carry instead of the build machine's.
include(${CMAKE_CURRENT_LIST_DIR}/gzip.cmake)

set(VELMOT_PACKAGE_MAINTAINER
    "Velmot CLI maintainers <maintainers@users.noreply.c-seed-3f84b941.example>"
    CACHE STRING "Maintainer field of the Debian packages: a name and an address")

string(REPLACE "_" "-" VELMOT_LAUNCHER_PACKAGE ${PROJECT_NAME})
# Debian package names have no underscores.
string(REPLACE "_" "-" VELMOT_DEVBRIDGE_PACKAGE velmot_devbridge)

# Every package carries a copyright file and a changelog in its own
# documentation directory. The changelog's date honours SOURCE_DATE_EPOCH.
string(TIMESTAMP VELMOT_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
function(velmot_package_docs package component)
    set(VELMOT_PACKAGE ${package})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/package-docs/${package})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${dir}/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${dir}/changelog @ONLY)
    velmot_gzip(${dir}/changelog)
    install(FILES ${dir}/copyright ${dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

set(CPACK_COMPONENTS_ALL launcher)
velmot_package_docs(${VELMOT_LAUNCHER_PACKAGE} launcher)
# A static launcher is a choice (see VELMOT_LINK_MODE), not an accident that
# Debian's package checker should report.
if(VELMOT_LINK_MODE STREQUAL "static" AND NOT VELMOT_SANITIZE AND NOT APPLE)
    set(overrides ${CMAKE_CURRENT_BINARY_DIR}/package-docs/lintian/${VELMOT_LAUNCHER_PACKAGE})
    file(CONFIGURE OUTPUT ${overrides} CONTENT "\
# Linked statically on purpose: it starts for every command a user types.
${VELMOT_LAUNCHER_PACKAGE}: statically-linked-binary
")
    install(FILES ${overrides} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        COMPONENT launcher)
endif()
if(VELMOT_BUILD_DEVBRIDGE)
    list(APPEND CPACK_COMPONENTS_ALL devbridge)
    velmot_package_docs(${VELMOT_DEVBRIDGE_PACKAGE} devbridge)
endif()

# The architecture in Debian's names, also used for the archives' names.
if(APPLE)
    set(VELMOT_PACKAGE_ARCH ${CMAKE_SYSTEM_PROCESSOR})
elseif(VELMOT_DEBIAN_ARCH)
    set(VELMOT_PACKAGE_ARCH ${VELMOT_DEBIAN_ARCH})
else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE VELMOT_PACKAGE_ARCH
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT VELMOT_PACKAGE_ARCH)
        set(VELMOT_PACKAGE_ARCH ${CMAKE_SYSTEM_PROCESSOR})
    endif()
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VELMOT_PACKAGE_ARCH})

if(APPLE)
    set(CPACK_GENERATOR TGZ)
else()
    set(CPACK_GENERATOR DEB)
endif()
string(TOLOWER ${CMAKE_SYSTEM_NAME} VELMOT_PACKAGE_SYSTEM)
set(CPACK_SYSTEM_NAME ${VELMOT_PACKAGE_SYSTEM}-${VELMOT_PACKAGE_ARCH})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_LAUNCHER_FILE_NAME
    ${VELMOT_LAUNCHER_PACKAGE}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_ARCHIVE_DEVBRIDGE_FILE_NAME
    ${VELMOT_DEVBRIDGE_PACKAGE}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_NAME ${VELMOT_LAUNCHER_PACKAGE})
set(CPACK_PACKAGE_CONTACT ${VELMOT_PACKAGE_MAINTAINER})
# Each package states its own summary in its description below; a common
# summary would be put in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# No tool here strips Mach-O files; a Release build for macOS carries no
# debugging information to strip.
if(NOT APPLE)
    set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME ${VELMOT_LAUNCHER_PACKAGE})
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION "${PROJECT_DESCRIPTION}
The launcher forwards every command typed as velmot or velmot-<plugin id>,
with its arguments, to the bridge that the running host application serves
on 127.0.0.1, replays the command's output as it arrives and exits with the
command's status. This package holds the launcher and its velmot link; a
host application or a plug-in installs one velmot-<plugin id> link per
plug-in.")

set(CPACK_DEBIAN_DEVBRIDGE_PACKAGE_NAME ${VELMOT_DEVBRIDGE_PACKAGE})
set(CPACK_DEBIAN_DEVBRIDGE_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DEVBRIDGE_PACKAGE_RECOMMENDS ${VELMOT_LAUNCHER_PACKAGE})
set(CPACK_COMPONENT_DEVBRIDGE_DESCRIPTION "development bridge for the command-line launcher's plug-ins
velmot_devbridge stands in for the host application's bridge, so that a
plug-in author can run the plug-in's command line through the launcher
without the host application: it serves the launcher's exchange on
127.0.0.1 and answers each invocation by running an executable from a
directory of commands. Example commands are included.")

include(CPack)
