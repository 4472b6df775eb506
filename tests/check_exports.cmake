# liblogbase exports exactly its interface: the dynamic symbols it defines are
# the functions and data objects listed in INTERFACE, each of the right kind
# and each declared with LOGBASE_API in HEADER; and it needs no library beyond
# the platform's C library and C++ runtime (plus the sanitizers' runtimes in
# sanitized builds).
# Usage: cmake -DLIBRARY=liblogbase.so -DHEADER=logbase.h -DINTERFACE=exports.txt
#              -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)

set(failures)

# The interface list: "function NAME" or "data NAME" per line.
file(STRINGS ${INTERFACE} interface_lines REGEX "^(function|data) ")
set(interface)
foreach(line IN LISTS interface_lines)
    string(REPLACE " " ";" fields "${line}")
    list(GET fields 0 kind)
    list(GET fields 1 name)
    list(APPEND interface ${name})
    set(kind_of_${name} ${kind})
endforeach()

# What the library exports, with the kind nm gives each symbol.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_status)
if(NOT nm_status EQUAL 0)
    message(FATAL_ERROR "nm -D failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" nm_lines "${nm_output}")
set(exported)
foreach(line IN LISTS nm_lines)
    if(NOT line MATCHES "^[0-9a-fA-F]* +([A-Za-z]) +(.+)$")
        continue()
    endif()
    set(type ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    list(APPEND exported ${name})
    if(type STREQUAL "T")
        set(kind function)
    else()
        set(kind data)
    endif()
    if(NOT name IN_LIST interface)
        list(APPEND failures "exported but not in the interface: ${name}")
    elseif(NOT kind STREQUAL kind_of_${name})
        list(APPEND failures "${name} is exported as ${kind}, the interface has ${kind_of_${name}}")
    endif()
endforeach()
foreach(name IN LISTS interface)
    if(NOT name IN_LIST exported)
        list(APPEND failures "in the interface but not exported: ${name}")
    endif()
endforeach()

# Every interface name is declared in the header.
file(READ ${HEADER} header)
foreach(name IN LISTS interface)
    if(NOT header MATCHES "LOGBASE_API[^;{]*[^A-Za-z0-9_]${name}[ \t\n]*[\\(\\[;]")
        list(APPEND failures "not declared with LOGBASE_API in the header: ${name}")
    endif()
endforeach()

# Needed libraries: the platform only.
execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]+\\]" needed_lines "${dynamic}")
foreach(line IN LISTS needed_lines)
    string(REGEX REPLACE ".*\\[(.+)\\]" "\\1" lib "${line}")
    if(NOT lib MATCHES "^(libc|libm|libstdc\\+\\+|libgcc_s|ld-linux-x86-64|libasan|libubsan|libtsan)\\.so")
        list(APPEND failures "needs a library beyond the platform: ${lib}")
    endif()
endforeach()

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "liblogbase's exports:\n  ${text}")
endif()
list(LENGTH exported count)
message(STATUS "${count} exported symbols, exactly the interface; needed: platform libraries only")
