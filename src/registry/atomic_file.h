// Whole files: read at once, and replaced so that a reader sees either the
// old or the new content, never a mixture, and concurrent editors do not lose
// each other's changes.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tandor {

// The content of the file `path`; nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Gives the new content for the current one, or nullopt to write nothing.
using FileEdit = std::function<std::optional<std::string>(const std::string& content)>;

// Rewrites the existing regular file `path` (a symbolic link is followed and
// stays). Under an exclusive flock of the file, taken again if the file was
// replaced while waiting, the current content goes through `edit`; the result
// is written to a temporary file in the same folder with the old file's mode
// and owner, flushed to disk, and renamed over the old file once
// `may_replace` agrees. Gives true and sets `*written` when the new content
// took the file's place; on false the file is unchanged.
bool RewriteFile(const std::string& path, const FileEdit& edit,
                 const std::function<bool()>& may_replace, std::string* written);

}  // namespace tandor
