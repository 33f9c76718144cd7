// Program entry: welcome lines, the master's run, closing lines.
#include "common/console.h"
#include "master/master_control.h"
#include "master/version.h"

int main() {
    tmx::Console& console = tmx::standardConsole();
    console.out("\n\nWelcome to the LFS Trackmarshal (LFS_TMX)");
    console.out("%s", tmx::kProductVersion);
    console.out("\n");
    console.out("%s", tmx::kBannerLine);
    console.out("\n\n");
    {
        tmx::cl_MasterControl master(console);
        master.Run();
        console.out("\n\nTerminating Trackmarshal (TMX)....");
        console.out("\nThanks for using  -  Bye\n\n");
    }  // the master is destroyed here and waits for a key press
    return 0;
}
