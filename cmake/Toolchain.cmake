# Compiler settings shared by every target of the project.

function(logbase_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# LOGBASE_SANITIZE names the sanitizers of the whole build, for example
# "address,undefined" (test preset) or "thread" (tsan preset).
if(LOGBASE_SANITIZE)
    add_compile_options(-fsanitize=${LOGBASE_SANITIZE} -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${LOGBASE_SANITIZE})
endif()

# Installs a Debian package at configure time when what the build or its
# tests need is missing, so the documented set-up commands work on a fresh
# machine. PROGRAM names a command, PATH a file that must exist. OPTIONAL:
# a failed install only warns (the tests that need it then skip).
function(logbase_require package)
    cmake_parse_arguments(R "OPTIONAL" "PROGRAM;PATH" "" ${ARGN})
    if(R_PROGRAM)
        find_program(found ${R_PROGRAM} NO_CACHE)
    elseif(EXISTS ${R_PATH})
        set(found TRUE)
    endif()
    if(found)
        return()
    endif()
    message(STATUS "Installing Debian package ${package}")
    set(install ${CMAKE_COMMAND} -E env DEBIAN_FRONTEND=noninteractive
                apt-get install -y --no-install-recommends ${package})
    execute_process(COMMAND ${install} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    if(NOT rc EQUAL 0) # the package lists may be missing or stale
        execute_process(COMMAND apt-get update OUTPUT_QUIET)
        execute_process(COMMAND ${install} RESULT_VARIABLE rc OUTPUT_QUIET)
    endif()
    if(NOT rc EQUAL 0 AND R_OPTIONAL)
        message(WARNING "Debian package ${package} is missing and installing it failed")
    elseif(NOT rc EQUAL 0)
        message(FATAL_ERROR "Debian package ${package} is missing and installing it failed")
    endif()
endfunction()
