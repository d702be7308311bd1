# Compresses a file of the build tree at build time, as Debian installs
# manual pages and changelogs.
#
# velmot_gzip(<file>) adds <file>.gz to the default build; install it from
# there.
find_program(VELMOT_GZIP gzip REQUIRED)

function(velmot_gzip file)
    get_filename_component(dir ${file} DIRECTORY)
    get_filename_component(name ${file} NAME)
    file(RELATIVE_PATH relative ${CMAKE_BINARY_DIR} ${file})
    string(MAKE_C_IDENTIFIER "gzip_${relative}" target)
    # -n leaves the file name and time out of the header, so the same input
    # compresses to the same bytes on every build.
    add_custom_command(OUTPUT ${file}.gz
        COMMAND ${VELMOT_GZIP} -9nkf ${name}
        DEPENDS ${file}
        WORKING_DIRECTORY ${dir}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${file}.gz)
endfunction()
