// The city game: places, jobs, money and cars.
#include "controller/tmx_main.h"

namespace tmx {

// A city server runs the race-control table and its start in the pit lane;
// places, jobs and money arrive with the city game itself.
void TMX_MAIN::CityTick() {}
void TMX_MAIN::CityCarCheck(int) {}
void TMX_MAIN::ResetCityJob(int) {}
void TMX_MAIN::PlaceInCity(int) {}
void TMX_MAIN::CityCharge(int, int, int) {}
void TMX_MAIN::CityGarageCosts(int) {}

}  // namespace tmx
