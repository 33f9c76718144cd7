// Local time on Windows.
#include <time.h>

#include "platform/platform_internal.h"

namespace tmx::platform::detail {

bool toLocalTime(std::int64_t secondsSince1970, std::tm& local) {
    const auto seconds = static_cast<std::time_t>(secondsSince1970);
    return ::localtime_s(&local, &seconds) == 0;
}

}  // namespace tmx::platform::detail
