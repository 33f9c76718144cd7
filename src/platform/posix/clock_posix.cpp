// Local time on POSIX.
#include <time.h>

#include "platform/platform_internal.h"

namespace tmx::platform::detail {

bool toLocalTime(std::int64_t secondsSince1970, std::tm& local) {
    const auto seconds = static_cast<time_t>(secondsSince1970);
    return ::localtime_r(&seconds, &local) != nullptr;
}

}  // namespace tmx::platform::detail
