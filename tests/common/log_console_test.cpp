// The log beside the console: one stamped line per message, with the slot of
// the thread that wrote it, and nothing that only redraws the screen.
#include <gtest/gtest.h>

#include <thread>

#include "common/log_console.h"
#include "support/temp_dir.h"

namespace tmx {
namespace {

TEST(LogConsole, OneStampedLinePerMessageWithItsSlotAndTheScreenUnchanged) {
    testing::TempDir dir;
    CaptureConsole screen;
    {
        LogConsole log(screen, [] { return std::string("2026-12-10 08:00:00"); });
        ASSERT_TRUE(log.open(dir.file("tmx.log")));
        // Messages begin with their line feed; a message is one log line even
        // when it comes in pieces.
        log.out("\n\nMCP: Writing database ");
        log.out("\nWriting :");
        log.out("... Done\n");
        log.screen("\b\b\t-");                   // a spinner frame
        log.screen("\rMCP: TmxStatus: OK\t");    // the self-redrawing status line
        std::thread controller([&] {
            setLogSlot(3);
            log.out("\n     Connecting LFS .");
            log.note("Server 3: alice typed \"#x\nforged line\"");
            log.out("\n");
        });
        controller.join();
        log.err("\nConnection to '%s' failed\n", "10.0.0.1");
    }
    EXPECT_EQ(dir.read("tmx.log"),
              "2026-12-10 08:00:00 [master] MCP: Writing database\n"
              "2026-12-10 08:00:00 [master] Writing :... Done\n"
              "2026-12-10 08:00:00 [slot 3] Connecting LFS .\n"
              "2026-12-10 08:00:00 [slot 3] Server 3: alice typed \"#xforged line\"\n"
              "2026-12-10 08:00:00 [master] Connection to '10.0.0.1' failed\n");
    // The screen gets everything but the notes, byte for byte.
    EXPECT_EQ(screen.output(),
              "\n\nMCP: Writing database \nWriting :... Done\n\b\b\t-\rMCP: TmxStatus: OK\t\n     Connecting LFS .\n"
              "\nConnection to '10.0.0.1' failed\n");
    EXPECT_EQ(screen.notes(), "");
}

}  // namespace
}  // namespace tmx
