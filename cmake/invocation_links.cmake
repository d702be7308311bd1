# The launcher's invocation names: `velmot` and a `velmot-<id>` for each id in
# VELMOT_PLUGIN_IDS, all symbolic links to the one executable beside them.
# A host application's package can link the plug-ins it bundles this way;
# a plug-in installed later adds its own link (see README.md).
#
# The links are made in the build tree at configure time and installed as
# files, so that they land in the install manifest and in the launcher's
# package like any other file.
include(${CMAKE_CURRENT_LIST_DIR}/plugin_id.cmake)

set(VELMOT_PLUGIN_IDS "" CACHE STRING
    "Plug-in ids to install a velmot-<id> link for, separated by semicolons")

function(velmot_install_invocation_links target component)
    set(link_dir ${CMAKE_CURRENT_BINARY_DIR}/invocation-links)
    file(REMOVE_RECURSE ${link_dir})
    file(MAKE_DIRECTORY ${link_dir})
    set(names velmot)
    foreach(id IN LISTS VELMOT_PLUGIN_IDS)
        velmot_plugin_id_problem("${id}" problem)
        if(problem)
            message(FATAL_ERROR
                "VELMOT_PLUGIN_IDS: \"${id}\" is not a plug-in id: ${problem}.")
        endif()
        list(APPEND names velmot-${id})
    endforeach()
    list(REMOVE_DUPLICATES names)
    set(links "")
    foreach(name IN LISTS names)
        file(CREATE_LINK ${target} ${link_dir}/${name} SYMBOLIC)
        list(APPEND links ${link_dir}/${name})
    endforeach()
    install(FILES ${links} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
endfunction()
