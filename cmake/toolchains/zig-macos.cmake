# macOS through `zig c++` (clang with libc++ and the macOS headers and
# library stubs it carries), for VELMOT_ZIG_TARGET, which the per-target files
# set: a compile-and-link check and the macOS archive, run on Linux. zig comes
# from $VELMOT_ZIG or the PATH (scripts/install-deps.sh cross installs it).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_OSX_SYSROOT "" CACHE PATH "")

if(DEFINED ENV{VELMOT_ZIG})
    set(VELMOT_ZIG $ENV{VELMOT_ZIG})
else()
    find_program(VELMOT_ZIG zig NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endif()

# CMake wants one program per tool, and zig takes the tool as its first
# argument, so each tool is a short script in the build tree. zig's linker
# refuses -v, which CMake passes when it asks the compiler about its ABI.
set(driver_dir ${CMAKE_BINARY_DIR}/zig-driver)
foreach(tool cc c++ ar ranlib)
    set(prologue "")
    set(target_option "")
    if(tool MATCHES "^c")
        set(prologue "for a; do shift; [ \"$a\" = -Wl,-v ] || set -- \"$@\" \"$a\"; done\n")
        set(target_option "-target ${VELMOT_ZIG_TARGET} ")
    endif()
    file(CONFIGURE OUTPUT ${driver_dir}/${tool}.in
        CONTENT "#!/bin/sh\n${prologue}exec \"${VELMOT_ZIG}\" ${tool} ${target_option}\"$@\"\n")
    file(COPY_FILE ${driver_dir}/${tool}.in ${driver_dir}/${tool} ONLY_IF_DIFFERENT)
    file(CHMOD ${driver_dir}/${tool} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
        GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${driver_dir}/cc)
set(CMAKE_CXX_COMPILER ${driver_dir}/c++)
set(CMAKE_AR ${driver_dir}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${driver_dir}/ranlib CACHE FILEPATH "")
