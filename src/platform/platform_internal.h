// Helpers shared by the POSIX and Windows sides of the OS layer. Not part of
// the public interface: only files under src/platform/ include this.
#pragma once

#include <string>

namespace tmx::platform::detail {

// Wildcard match ('*' any run, '?' one character); ignoreCase folds ASCII
// letters, as Windows file names do.
bool wildcardMatchWith(const std::string& pattern, const std::string& name, bool ignoreCase);

// True for the separators the platform accepts at the end of a directory.
bool endsWithSeparator(const std::string& dir);

}  // namespace tmx::platform::detail
