// File helpers of the reference host layer. Reading goes through
// lb::read_regular_file (lib/common/files.hpp), which refuses anything but a
// bounded regular file.
#pragma once

#include <string>

namespace host {

// Replaces `path` with `content` through a temporary file in the same folder
// and a rename, so readers see the old or the new file, never a partial one.
// An existing file keeps its mode and owner. Creates missing parent
// directories. False on failure.
bool replace_file(const std::string &path, const std::string &content);

// Creates the parent directories of `path` that are missing. False on failure.
bool make_parent_directories(const std::string &path);

// The directory part of a path ("." when there is none).
std::string parent_of(const std::string &path);

} // namespace host
