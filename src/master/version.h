// Product name and version, shown on the console and announced on every server.
#pragma once

namespace tmx {

constexpr const char* kProductShortName = "TMX";
constexpr const char* kProductVersion = "0.8";
// The banner line: console start-up and the controller's greeting (at most 95
// characters, so that it fits one long chat message).
constexpr const char* kBannerLine = "TMX 0.8 - the Trackmarshal race director for Live for Speed (InSim 4)";

}  // namespace tmx
