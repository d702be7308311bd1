# Manual pages: hand-written roff in man/, with the version filled in at
# configure time.
#
# velmot_install_man_page(<page> COMPONENT <component> [ALIASES <name>...])
# installs man/<page> (for example velmot_devbridge.1) into the component,
# and each alias as a symbolic link to it in the same section.
include(${CMAKE_CURRENT_LIST_DIR}/gzip.cmake)

function(velmot_install_man_page page)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "ALIASES")
    string(REGEX MATCH "[0-9]$" section ${page})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/man/man${section})
    configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${dir}/${page} @ONLY)
    velmot_gzip(${dir}/${page})
    set(files ${dir}/${page}.gz)
    foreach(alias IN LISTS arg_ALIASES)
        file(CREATE_LINK ${page}.gz ${dir}/${alias}.${section}.gz SYMBOLIC)
        list(APPEND files ${dir}/${alias}.${section}.gz)
    endforeach()
    install(FILES ${files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
        COMPONENT ${arg_COMPONENT})
endfunction()
