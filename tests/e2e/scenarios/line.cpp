// The line's rate when the module asks for the normal settings: a line with
// "r\r" in it (an error word, say) brings the normal rate back, changed by
// the window thread in order with the program's own changes.
#include "../lib/driver.h"

namespace {

// After a download the line stays at the installation rate, until the
// module's "r\r" line.
void RestoreAfterDownload()
{
    DownloadRun run;
    run.image = MakeImage("image-restore.bin", 3000, 16);
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    REQUIRE(out.report["line"]["baud"].num() == 115200, "after the download the line is at %d",
            (int)out.report["line"]["baud"].num());
    Sim("send monitor error\\r\\n");
    const Json report = WaitReport([](const Json& r) { return r["line"]["baud"].num() == 19200; });
    CHECK(report["line"]["baud"].num() == 19200, "after the module's \"r\\r\" line the line is at %d",
          (int)report["line"]["baud"].num());
}

} // namespace

const Suite kLine("line", {
    { "restore-after-download", RestoreAfterDownload },
});
