// The main job that scripts/run shows: one download of the image it names,
// with a screenshot of each step.  Set by the script: ORVANE_JOB_IMAGE (a
// Windows path), ORVANE_JOB_MODEL (520W, 41, 710F), ORVANE_JOB_RATE (115200
// or 57600, set in the Settings dialog first when not the default) and
// ORVANE_JOB_SIM (more simulator settings).  One line for the script:
// "JOB box|caption|progress|of".
#include "../lib/driver.h"

#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name, const char* otherwise)
{
    const char* value = std::getenv(name);
    return value && *value ? value : otherwise;
}

void MainJob()
{
    const std::string rate = Env("ORVANE_JOB_RATE", "115200");
    if (rate != "115200") {
        Chord(gMain, { VK_MENU, 'S' });
        HWND hDlg = WaitDialog("Serial Port Setting");
        REQUIRE(hDlg != NULL, "no Settings dialog");
        Click(GetDlgItem(hDlg, 558));   // 57600
        Click(GetDlgItem(hDlg, IDOK));
        REQUIRE(WaitGone(hDlg), "Ok did not close Settings");
    }
    DownloadRun run;
    run.model = Env("ORVANE_JOB_MODEL", "520W");
    run.image = Env("ORVANE_JOB_IMAGE", "");
    // Steps long enough to be seen; ORVANE_JOB_SIM adds simulator settings.
    run.sim = "install-rate=" + rate + " byte-delay-ms=25 " + Env("ORVANE_JOB_SIM", "");
    run.snaps = "job";
    REQUIRE(!run.image.empty(), "no image named (ORVANE_JOB_IMAGE)");
    // The verdict within twice the image's time on the wire and a minute.
    WIN32_FILE_ATTRIBUTE_DATA file;
    REQUIRE(GetFileAttributesExA(run.image.c_str(), GetFileExInfoStandard, &file), "cannot read %s",
            run.image.c_str());
    const double wireMs = file.nFileSizeLow * 10.0 * 1000 / std::stol(rate);
    run.dwLimit = (DWORD)(2 * wireMs) + 60000;
    DownloadOutcome out = Download(run);
    Log("JOB %s|%s|%d|%d", out.box.c_str(), out.caption.c_str(), out.progress, out.progressMax);
    ExpectSuccess(out);
}

} // namespace

const Suite kJob("job", {
    { "main-job", MainJob },
});
