// File helpers of the reference host layer.
#pragma once

#include <optional>
#include <string>

namespace host {

// Whole contents of a regular file; nullopt when it cannot be read.
std::optional<std::string> read_whole(const std::string &path);

// Replaces `path` with `content` through a temporary file and a rename, so
// readers see the old or the new file, never a partial one. Creates missing
// parent directories. False on failure.
bool replace_file(const std::string &path, const std::string &content);

// Creates the parent directories of `path` that are missing. False on failure.
bool make_parent_directories(const std::string &path);

// The directory part of a path ("." when there is none).
std::string parent_of(const std::string &path);

} // namespace host
