// Helpers shared by the POSIX and Windows sides of the OS layer. Not part of
// the public interface: only files under src/platform/ include this.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace tmx::platform::detail {

// Wildcard match ('*' any run, '?' one character); ignoreCase folds ASCII
// letters, as Windows file names do.
bool wildcardMatchWith(const std::string& pattern, const std::string& name, bool ignoreCase);

// True for the separators the platform accepts at the end of a directory.
bool endsWithSeparator(const std::string& dir);

// Local calendar time of a time in seconds since 1970; false if it cannot be
// converted (each platform has its own thread-safe call).
bool toLocalTime(std::int64_t secondsSince1970, std::tm& local);

}  // namespace tmx::platform::detail
