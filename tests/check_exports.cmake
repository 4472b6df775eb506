# liblogbase exports its interface and nothing else: every dynamic symbol the
# library defines is declared with LOGBASE_API in logbase.h, and each name of
# the interface built so far is exported.
# Usage: cmake -DLIBRARY=liblogbase.so -DHEADER=logbase.h -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)

set(expected
    rt_log
    parse_log_version get_log_seq get_log_len get_log_index get_log_content_offset
    get_log_file_header get_file_index get_all_file_index get_log_data get_log_version
    get_log_version_by_path get_log_line
    get_log_file_header_global get_log_data_global get_log_len_global get_log_index_global
    file_size match_logfname get_log_type_by_filename log_line_replace_tag)
# Symbols every shared object defines.
set(linker_symbols _init _fini _edata _end __bss_start)

execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_status)
if(NOT nm_status EQUAL 0)
    message(FATAL_ERROR "nm -D failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" nm_lines "${nm_output}")
set(exported)
foreach(line IN LISTS nm_lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* +[A-Za-z] +" "" name "${line}")
    # AddressSanitizer pairs each exported global with an ODR indicator.
    string(REGEX REPLACE "^__odr_asan\\." "" name "${name}")
    list(APPEND exported ${name})
endforeach()
list(REMOVE_DUPLICATES exported)

# Names declared with LOGBASE_API: the identifier before the parameter list
# of a function, or the last identifier of a data declaration.
file(READ ${HEADER} header)
string(REGEX MATCHALL "LOGBASE_API[^;{]*" declarations "${header}")
set(declared)
foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE "\\(.*" "" head "${declaration}")
    string(REGEX REPLACE "\\[.*" "" head "${head}")
    string(REGEX MATCH "[A-Za-z_][A-Za-z0-9_]*[ \t\n]*$" name "${head}")
    string(STRIP "${name}" name)
    list(APPEND declared ${name})
endforeach()

set(failures)
foreach(name IN LISTS exported)
    if(NOT name IN_LIST declared AND NOT name IN_LIST linker_symbols)
        list(APPEND failures "exported but not in the interface: ${name}")
    endif()
endforeach()
foreach(name IN LISTS expected)
    if(NOT name IN_LIST exported)
        list(APPEND failures "interface function not exported: ${name}")
    endif()
endforeach()
if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "liblogbase's exports:\n  ${text}")
endif()
list(LENGTH exported count)
message(STATUS "${count} exported symbols, all declared in logbase.h")
