// How the module answers: byte by byte, behind noise, twice in one burst,
// with 302 in each phase, or not at all after the image.
#include "../lib/driver.h"

namespace {

DownloadOutcome Answering(const std::string& sim, size_t size = 6000, bool fFence = true)
{
    DownloadRun run;
    run.image = MakeImage("image-replies.bin", size, 6);
    run.sim = sim;
    run.dwLimit = 180000;
    run.fFence = fFence;
    return Download(run);
}

void ByteByByte() { ExpectSuccess(Answering("byte-delay-ms=3")); }
void BehindNoise() { ExpectSuccess(Answering("noise=1")); }
void TwiceInOneBurst() { ExpectSuccess(Answering("burst=1")); }

// 302 instead of the replies to the wake-up, "flash" and "p 60": failure,
// and no image goes out.
void Fail302BeforeTheImage()
{
    for (const char* phase : { "0", "1", "2" }) {
        DownloadOutcome out = Answering(std::string("fail-phase=") + phase);
        ExpectFailure(out);
        CHECK(out.report["image"]["bytes"].num() == 0, "phase %s: the image went out after the 302", phase);
    }
}

// 302 in the middle of the image: the rest is still written, then failure.
// (The module, still taking the image, may count the "r" sent as the dialog
// closes.)
void Fail302MidTransfer()
{
    DownloadOutcome out = Answering("fail-offset=8192", 40 * 1024, false);
    ExpectFailure(out);
    const Json report = WaitReport([](const Json& r) { return r["image"]["bytes"].num() >= 40 * 1024; });
    CHECK(report["image"]["bytes"].num() >= 40 * 1024, "the module got %d of the image's %d bytes",
          (int)report["image"]["bytes"].num(), 40 * 1024);
}

// The module takes the image and never answers: the waiting counter fails it.
void SilentAfterImage()
{
    DownloadOutcome out = Answering("silent-phase=3");
    ExpectFailure(out);
    CHECK(out.report["image"]["equal"].truth(), "the module did not get the image whole");
}

} // namespace

const Suite kReplies("replies", {
    { "reply-byte-by-byte", ByteByByte },
    { "reply-behind-noise", BehindNoise },
    { "replies-twice-in-one-burst", TwiceInOneBurst },
    { "fail-302", Fail302BeforeTheImage },
    { "fail-302-mid-transfer", Fail302MidTransfer },
    { "silent-after-image", SilentAfterImage },
});
