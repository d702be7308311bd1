# Runs in script mode: every id of the table against the plug-in id rule
# that configure applies to VELMOT_PLUGIN_IDS.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/plugin_id.cmake)

string(REPEAT "a" 128 longest)
set(accepted notes 9lives a.b_c-d x "${longest}")
set(refused "" "${longest}b" Notes .notes _notes -notes "no/tes" "no tes" nötes
    plugin-cli-client)

set(failures "")
foreach(id IN LISTS accepted)
    velmot_plugin_id_problem("${id}" problem)
    if(problem)
        string(APPEND failures "\n  \"${id}\" refused: ${problem}")
    endif()
endforeach()
foreach(id IN LISTS refused)
    velmot_plugin_id_problem("${id}" problem)
    if(NOT problem)
        string(APPEND failures "\n  \"${id}\" accepted")
    endif()
endforeach()
if(failures)
    message(FATAL_ERROR "plug-in id rule:${failures}")
endif()
