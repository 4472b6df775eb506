# The export list cmake/logbase.exports becomes the linker's version script:
# the listed names are global, everything else (C++ template instances the
# standard headers give default visibility included) stays local.
set(exports_file ${PROJECT_SOURCE_DIR}/cmake/logbase.exports)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${exports_file})
file(STRINGS ${exports_file} export_lines REGEX "^(function|data) ")
set(export_names "")
foreach(line IN LISTS export_lines)
    string(REGEX REPLACE "^[a-z]+ " "" name "${line}")
    string(APPEND export_names "        ${name};\n")
endforeach()
set(version_script ${PROJECT_BINARY_DIR}/logbase.map)
file(WRITE ${version_script} "{\n    global:\n${export_names}    local: *;\n};\n")
target_link_options(logbase PRIVATE -Wl,--version-script=${version_script})
set_property(TARGET logbase APPEND PROPERTY LINK_DEPENDS ${version_script})
