# The plug-in id rule, for checking the ids that an install links before the
# launcher would refuse them at run time: 1 to 128 bytes of a-z, 0-9, ".",
# "_" and "-", the first a letter or digit. "plugin-cli-client" is refused
# too: a link of that name would be the launcher's own file name.
#
# velmot_plugin_id_problem(<id> <out-var>) sets <out-var> to why the id is
# refused, or to the empty string when it is a valid plug-in id. Usable from
# a project and in script mode (cmake -P).
function(velmot_plugin_id_problem id out_var)
    string(LENGTH "${id}" length)
    if(length EQUAL 0)
        set(problem "it is empty")
    elseif(length GREATER 128)
        set(problem "it is ${length} bytes long, more than 128")
    elseif(NOT id MATCHES "^[a-z0-9][a-z0-9._-]*$")
        set(problem "it must start with a-z or 0-9 and hold only a-z, 0-9, \".\", \"_\" and \"-\"")
    elseif(id STREQUAL "plugin-cli-client")
        set(problem "velmot-plugin-cli-client is the launcher's own name, not an invocation name")
    else()
        set(problem "")
    endif()
    set(${out_var} "${problem}" PARENT_SCOPE)
endfunction()
