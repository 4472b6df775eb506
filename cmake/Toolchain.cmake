# Compiler settings shared by every target of the project.

function(logbase_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# LOGBASE_SANITIZE names the sanitizers of the whole build, for example
# "address,undefined" (test preset) or "thread" (tsan preset).
if(LOGBASE_SANITIZE STREQUAL "ON") # TEMP: build dirs configured before the option took a list
    set(LOGBASE_SANITIZE "address,undefined" CACHE STRING "" FORCE)
endif()
if(LOGBASE_SANITIZE)
    add_compile_options(-fsanitize=${LOGBASE_SANITIZE} -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${LOGBASE_SANITIZE})
endif()

# Installs a Debian package when a command the build needs is missing, so the
# documented set-up commands work on a fresh machine.
function(logbase_require_program program package)
    find_program(_found ${program} NO_CACHE)
    if(_found)
        return()
    endif()
    message(STATUS "Installing Debian package ${package} for ${program}")
    execute_process(COMMAND apt-get install -y --no-install-recommends ${package}
                    RESULT_VARIABLE rc OUTPUT_QUIET)
    if(NOT rc EQUAL 0)
        execute_process(COMMAND apt-get update OUTPUT_QUIET)
        execute_process(COMMAND apt-get install -y --no-install-recommends ${package}
                        RESULT_VARIABLE rc OUTPUT_QUIET)
    endif()
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${program} is missing and installing ${package} failed")
    endif()
endfunction()
