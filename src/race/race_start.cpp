// Race starts: grand-prix and rolling starts.
#include "controller/tmx_main.h"

namespace tmx {

// No start procedure is run yet: a pending start is simply over.
void TMX_MAIN::StartProcedureStep() { session.startPhase = SP_NONE; }

bool TMX_MAIN::RollingStartTakesLateCars() const { return false; }

}  // namespace tmx
