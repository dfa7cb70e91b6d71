// The download state machine and the image transfer, driven by ticks, replies
// and the dialog's buttons, with the dialog and the port replaced by
// recorders.  Each run is compared as one transcript of what the user would
// see and what the module would receive.
#include "orvane/installer/install.h"
#include "tests/support/recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kTitle = ORVANE_APP_TITLE;
const std::string kFail = "s:Fail to Install! m:Install Fail!/Merrow Systems. Co. LTD. end";
const std::string kSuccess = "s:Success to Install! m:Install Success!/" + kTitle + " end";
const std::string kPrepare = "s:Preparing for Programming! pause:200";
const std::string kSendImage = "en:7=0 en:4=0 w:IMG step en:7=1 en:4=1";

class Install : public ::testing::Test
{
protected:
    void SetUp() override
    {
        recorder::Reset();
        recorder::DetachAll();
        recorder::Attach(hMain, &tty);
        hTTYWnd = hMain;
        // Every global a run touches, so that no test depends on another.
        ResetReceiveState();
        gpfnParseOnWindowThread = nullptr;
        gpfnParserWait = nullptr;
        gCondition = 0;
        gIsActivate = 0;
        nModel = 1;
        max_timeout = 0;
        nCount = 0;
        dwImageTaken = 0;
        fImageStalled = FALSE;
        gszMyFileName[0] = '\0';
        dir = fs::temp_directory_path() / ("orvane-install-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        image = Write("image.bin", "IMG");
    }

    void TearDown() override { fs::remove_all(dir); }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        fs::path p = dir / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << bytes;
        return p.string();
    }

    // The Install dialog opens on the remembered name; its own calls are not
    // part of a transcript.
    void Open(const std::string& remembered)
    {
        std::snprintf(gszMyFileName, sizeof(gszMyFileName), "%s", remembered.c_str());
        InstallInit(hDlg);
        recorder::ClearCalls();
    }

    // Bytes that differ from chunk to chunk.
    static std::string Pattern(size_t size)
    {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i)
            bytes[i] = (char)(i * 7 + (i >> 10));
        return bytes;
    }

    // The files this process has open.
    static size_t OpenFiles()
    {
        return (size_t)std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    }

    // Everything the port took, in order.
    static std::string Line()
    {
        std::string line;
        for (const auto& w : recorder::CallsNamed("WriteCommBytes"))
            line += w.bytes;
        return line;
    }

    static void Reply(const std::string& line)
    {
        AppendReceived(reinterpret_cast<const BYTE*>(line.data()), (int)line.size());
    }

    // "T" a tick, "Tn" n ticks, "C" Cancel, "D" the dialog destroyed,
    // anything else a line the module sends.
    void Play(const std::vector<std::string>& events)
    {
        for (const std::string& e : events) {
            if (e[0] == 'T') {
                for (int n = e.size() > 1 ? std::stoi(e.substr(1)) : 1; n > 0; --n)
                    InstallTick(hDlg);
            } else if (e == "C") {
                InstallCommand(hDlg, IDC_INSTCANCEL, BN_CLICKED_CODE);
            } else if (e == "D") {
                InstallDestroy(hDlg);
            } else {
                Reply(e);
            }
        }
    }

    static void ExpectState(int phase, int step, int model)
    {
        const INSTALLSTATE s = GetInstallState();
        EXPECT_EQ(s.nPhase, phase);
        EXPECT_EQ(s.nStep, step);
        EXPECT_EQ(s.nModel, model);
    }

    static constexpr WORD BN_CLICKED_CODE = 0;
    HWND hMain = recorder::FakeWindow(1);
    HWND hDlg = recorder::FakeWindow(2);
    TTYINFO tty{};
    fs::path dir;
    std::string image;
};

const std::string k000 = "MRQ-520W boot 000\r\n";
const std::string k100 = "flash ready 100\r\n";
const std::string k200 = "prog 200\r\n";

struct Script
{
    const char* name;
    int model;                 // nModel left by the previous run
    bool fField;               // the field names the image (else empty)
    bool fChooserPicks;        // the chooser returns the image
    const char* onImage;       // a line the module sends while the image goes out
    std::vector<std::string> events;
    std::string transcript;
    int phase, step, modelAfter;
    bool fPortStalls = false;  // the port takes none of the image
    const char* onWait = nullptr;  // a line the module sends while a tick waits (a tick comes in the chooser)
};

const Script kRuns[] = {
    { "wake-up CRs, one per tick", 1, true, false, nullptr, { "T", "T", "T" }, "w:\\r w:\\r w:\\r", 0, 1, 1 },
    { "a reply behind a noise line in one block: the tick parses it", 1, true, false, nullptr,
      { "** monitor v1.4 **\r\n" + k000, "T" }, "s:Initializing! w:flash", 1, 3, 1 },
    { "MRQ-520W to success", 3, true, false, nullptr,
      { k000, "T", "T", k100, "T", "T", k200, "T", "T", "101\r\n", "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r s:Downloading program to MRQ-520W! " +
          kSendImage + " " + kSuccess,
      5, 10, 1 },
    { "MRQ-41 by AVR, then 302", 1, true, false, nullptr,
      { "T", k000, "T", "AVR flash ready 100\r\n", "T", k200, "T", "302\r\n", "T" },
      "w:\\r s:Initializing! w:flash range:56 " + kPrepare + " w:p 60\\r s:Downloading program to MRQ-41! " +
          kSendImage + " " + kFail,
      5, 10, 2 },
    { "MRQ-710F answers 100 at once: no flash", 1, true, false, nullptr, { "MRQ-710F boot 100\r\n", "T", "T" },
      "range:256 " + kPrepare + " w:p 60\\r", 2, 5, 3 },
    { "302 in phase 1", 1, true, false, nullptr, { k000, "T", "302\r\n", "T" },
      "s:Initializing! w:flash " + kFail, 5, 10, 1 },
    { "101 before 200 is ignored, a second 000 too", 1, true, false, nullptr,
      { k000, "T", k000, "T", k100, "T", "101\r\n", "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r", 2, 5, 1 },
    { "Cancel in phase 0 (MRQ-520W): r gone out, normal rate, closed next tick", 1, true, false, nullptr,
      { "T", "C", "T" }, "w:\\r w:r\\r drain setup:1 end", 5, 1, 1 },
    { "Cancel with the previous run's MRQ-41: no r", 2, true, false, nullptr, { "C", "T" }, "setup:1 end", 5, 1, 2 },
    { "a 302 after Cancel is still reported", 3, true, false, nullptr, { "C", "302\r\n", "T" },
      "setup:1 " + kFail, 5, 10, 3 },
    { "a 200 after Cancel does not start the image", 1, true, false, nullptr,
      { k000, "T", k100, "T", "C", k200, "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r w:r\\r drain setup:1 end", 5, 5, 1 },
    { "no file: chooser cancelled (MRQ-520W)", 1, false, false, nullptr, { k000, "T", k100, "T", "D" },
      "s:Initializing! w:flash range:256 " + kPrepare +
          " choose w:r\\r drain m:It may not run correctly!\nPlease reset and download!/" + kTitle +
          " setup:1 end w:r\\r drain timer:0",
      2, 5, 1 },
    { "no file: the chooser picks one; a 200 before p 60 answers nothing", 1, false, true, nullptr,
      { k000, "T", k100, "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " choose field:IMAGE w:p 60\\r", 2, 5, 1, false, "prog 200\r\n" },
    { "302 while the image goes out is reported", 1, true, false, "302\r\n",
      { k000, "T", k100, "T", k200, "T", "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r s:Downloading program to MRQ-520W! " +
          kSendImage + " " + kFail,
      5, 10, 1 },
    { "101 while the image goes out: the module ended it early, a failure", 1, true, false, "101\r\n",
      { k000, "T", k100, "T", k200, "T", "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r s:Downloading program to MRQ-520W! " +
          kSendImage + " " + kFail,
      5, 10, 1 },
    { "destroyed (MRQ-710F): no r", 3, true, false, nullptr, { "D" }, "timer:0", 0, 1, 3 },
    { "the port stops taking the image: failure at once, the module reset as on Cancel", 1, true, false, nullptr,
      { k000, "T", k100, "T", k200, "T", "T" },
      "s:Initializing! w:flash range:256 " + kPrepare + " w:p 60\\r s:Downloading program to MRQ-520W! " +
          "en:7=0 en:4=0 w: pause:10 w: en:7=1 en:4=1 clear w:r\\r drain setup:1 " + kFail,
      5, 10, 1, true },
};

TEST_F(Install, Runs)
{
    for (const Script& run : kRuns) {
        SCOPED_TRACE(run.name);
        SetUp();
        nModel = run.model;
        if (run.fChooserPicks)
            recorder::gChooserAnswer = image;
        if (run.fPortStalls)
            recorder::gPortTakes = [](DWORD) {
                recorder::gClock += IMAGE_STALL_MS / 2;
                return recorder::Take{ 0, TRUE };
            };
        if (run.onWait) {
            const std::string line = run.onWait;
            recorder::gOnWait = [this, line](const recorder::Call& c) {
                Reply(line);
                if (c.name == "ChooseFile")
                    InstallTick(hDlg);
            };
        }
        if (run.onImage) {
            const std::string line = run.onImage;
            recorder::gOnWrite = [line](const recorder::Call& c) {
                if (c.bytes == "IMG")
                    Reply(line);   // as the watcher appends and parses it
            };
        }
        Open(run.fField ? image : "");
        Play(run.events);

        std::string want = run.transcript;
        for (size_t at; (at = want.find("IMAGE")) != std::string::npos;)
            want.replace(at, 5, image);
        EXPECT_EQ(recorder::Transcript(), want);
        ExpectState(run.phase, run.step, run.modelAfter);
        TearDown();
    }
}

// The verdict may take 501 ticks after the image; the 502nd fails the run,
// and a 101 parsed at the start of the next tick no longer helps.  The next
// download counts its 501 ticks anew.
TEST_F(Install, WaitingCounter)
{
    Open(image);
    Play({ k000, "T", k100, "T", k200, "T", "T501" });
    ExpectState(3, 8, 1);
    EXPECT_EQ(nCount, 501);
    recorder::ClearCalls();
    Play({ "T" });
    ExpectState(5, 11, 1);
    Play({ "101\r\n", "T" });
    EXPECT_EQ(recorder::Transcript(), kFail);

    Play({ "D" });
    ResetReceiveState();
    Open(image);
    Play({ k000, "T", k100, "T", k200, "T", "T501" });
    ExpectState(3, 8, 1);
}

// Message boxes run a loop of their own in which the dialog's timer ticks
// on: a tick during the box of a failed image open starts nothing more, and
// one during the verdict's box closes the dialog.
TEST_F(Install, TicksWhileABoxIsUp)
{
    Open((dir / "missing.bin").string());
    recorder::gOnMessage = [this](const recorder::Call&) { InstallTick(hDlg); };
    Play({ k000, "T", k100, "T", k200, "T" });
    EXPECT_EQ(recorder::CallsNamed("Message").size(), 1u) << recorder::Transcript();
    ExpectState(3, 8, 1);
    Play({ "101\r\n", "T" });
    EXPECT_EQ(recorder::CallsNamed("End").size(), 2u) << "the verdict's box, then the tick inside it";
}

// Cancel pressed while the watcher is in the middle of a reply (it holds the
// parser's lock between reading the phase and storing the new one): Cancel
// waits for it and still wins, so the image never goes out.  The lock tells
// when Cancel has begun to wait; a Cancel that does not wait ends instead.
TEST_F(Install, CancelDuringAReplyWins)
{
    Open(image);
    Play({ k000, "T", k100, "T" });   // phase 2, "p 60" sent
    static std::atomic<int> events;   // Cancel waiting for the lock, or done
    events = 0;
    gpfnParserWait = [] { events.fetch_add(1); events.notify_all(); };
    std::atomic<bool> fCancelled{ false };
    std::thread cancel;
    {
        std::unique_lock<PARSERLOCK> parsing(gParserLock);
        ASSERT_EQ(gCondition, 2);     // the watcher has read phase 2 for a "200"
        cancel = std::thread([&] {
            InstallCommand(hDlg, IDC_INSTCANCEL, 0);
            fCancelled = true;
            events.fetch_add(1);
            events.notify_all();
        });
        events.wait(0);
        EXPECT_FALSE(fCancelled) << "Cancel did not wait for the reply being parsed";
        gCondition = 3;               // ... and stores its result
        gIsActivate = 6;
    }
    cancel.join();
    gpfnParserWait = nullptr;
    ExpectState(5, 6, 1);
    recorder::ClearCalls();
    Play({ "T" });
    EXPECT_EQ(recorder::Transcript(), "end");
}

// Init shows the wake-up text and the remembered name; a second download
// starts over with it and with the model of the first.
TEST_F(Install, SecondDownloadStartsOver)
{
    Open(image);
    Play({ "AVR 100\r\n" });   // phase 0: MRQ-710F
    Play({ "T", "C", "T", "D" });
    ExpectState(5, 5, 3);

    ResetReceiveState();   // the Download command
    recorder::gFileField.clear();
    recorder::ClearCalls();
    InstallInit(hDlg);
    EXPECT_EQ(recorder::Transcript(),
              "timer:1 en:7=1 s:Turn the power on, after removing the LAN card during power-off. field:" + image);
    EXPECT_EQ(recorder::gFileField, image);
    ExpectState(0, 1, 3);
}

// The field's EN_UPDATE keeps the remembered name; "..." opens the chooser
// with the last choice; Esc and the close box (IDCANCEL) do nothing.
TEST_F(Install, Commands)
{
    Open("");
    recorder::gFileField = std::string(300, 'n');   // longer than 99 characters
    EXPECT_FALSE(InstallCommand(hDlg, IDC_FILENAME, EN_UPDATE));
    EXPECT_EQ(std::string(gszMyFileName), recorder::gFileField);

    recorder::gChooserAnswer = image;
    EXPECT_TRUE(InstallCommand(hDlg, IDC_BROWSE, 0));
    EXPECT_TRUE(InstallCommand(hDlg, IDC_BROWSE, 0));
    const auto chooser = recorder::CallsNamed("ChooseFile");
    ASSERT_EQ(chooser.size(), 2u);
    EXPECT_EQ(chooser[0].hWnd, hMain);   // owned by the main window
    EXPECT_EQ(chooser[1].bytes, image);  // offers the last choice

    recorder::ClearCalls();
    EXPECT_FALSE(InstallCommand(hDlg, 2 /* IDCANCEL */, 0));
    EXPECT_EQ(recorder::Transcript(), "");
    ExpectState(0, 1, 1);
}

// One chunk, one progress step, one parser turn per 1024 bytes; the line
// gets the file unchanged.
TEST_F(Install, ChunksOfTheImage)
{
    const struct { size_t size; size_t chunks; } sizes[] = {
        { 0, 0 }, { 1, 1 }, { 1023, 1 }, { 1024, 1 }, { 1025, 2 }, { 300 * 1024, 300 },
    };
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.size);
        recorder::Reset();
        const std::string bytes = Pattern(s.size);
        recorder::gFileField = Write("sized.bin", bytes);

        EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 1);
        const auto writes = recorder::CallsNamed("WriteCommBytes");
        EXPECT_EQ(writes.size(), s.chunks);
        EXPECT_EQ(recorder::CallsNamed("ProgressStep").size(), s.chunks);
        EXPECT_EQ(recorder::CallsNamed("Repaint").size(), s.chunks) << "the dialog is repainted once a chunk";
        EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](const recorder::Call& w) { return w.a <= 1024; }));
        EXPECT_TRUE(Line() == bytes);
        EXPECT_EQ(dwImageTaken, s.size);
    }
}

// Each chunk is preceded by a turn of the parser: a 302 the watcher left
// unparsed behind another line is seen before the next chunk goes out.
TEST_F(Install, EachChunkHasAParserTurn)
{
    recorder::gFileField = Write("three.bin", Pattern(3 * 1024));
    gCondition = 3;
    gIsActivate = 7;
    std::vector<int> phases;
    recorder::gOnWrite = [&phases](const recorder::Call&) {
        if (phases.empty())
            Reply("noise\r\n302\r\n");   // one line parsed on arrival, the 302 waits
        phases.push_back(gCondition);
    };
    EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 1);
    EXPECT_EQ(phases, (std::vector<int>{ 3, 5, 5 }));
}

// A port that takes part of a write: the rest follows in order, the bar
// steps only for chunks taken whole, and only a port that takes nothing for
// IMAGE_STALL_MS, one that trickles past the image's time (10.9 s for 2500
// bytes at 115200, 15.2 s at 19200 for Shift+F3) or a failed write ends the
// transfer.  Shift+F3's whole file goes on the same way.
TEST_F(Install, ShortWrites)
{
    const DWORD kAll = ~0u;
    const struct {
        const char* name;
        std::vector<recorder::Take> takes;   // per write; the last one repeats
        DWORD dwMsPerWrite;
        int nResult;
        DWORD dwTaken, dwSteps, dwWrites;
    } cases[] = {
        { "700 of the first chunk, then the rest", { { 700, TRUE }, { kAll, TRUE } }, 1, 1, 2500, 3, 4 },
        { "nothing for 4.5 s, then all", { { 0, TRUE }, { 0, TRUE }, { 0, TRUE }, { kAll, TRUE } }, 1500, 1, 2500, 3, 6 },
        { "300 bytes, then nothing for 5 s", { { 300, TRUE }, { 0, TRUE } }, 1000, IMAGE_STALLED, 300, 0, 6 },
        { "a write fails after 100 more", { { 1024, TRUE }, { 100, FALSE } }, 1, IMAGE_STALLED, 1124, 1, 2 },
        { "a byte every 9 s: the time runs out", { { 1, TRUE } }, 9000, IMAGE_STALLED, 2, 0, 2 },
        { "then a port that takes it all", { { kAll, TRUE } }, 1, 1, 2500, 3, 3 },
    };
    const size_t nOpen = OpenFiles();
    const std::string bytes = Pattern(2500);
    tty.dwBaudRate = 19200;
    tty.dwBaudRateDown = 115200;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool fWhole : { false, true }) {
            recorder::Reset();
            size_t nCall = 0;
            recorder::gPortTakes = [&](DWORD) {
                recorder::gClock += c.dwMsPerWrite;
                return c.takes[std::min(nCall++, c.takes.size() - 1)];
            };
            if (fWhole) {
                recorder::gChooserAnswer = Write("whole.bin", bytes);
                EXPECT_EQ(SendFile(hMain), c.nResult == 1 ? 1 : 0);
            } else {
                recorder::gFileField = Write("short.bin", bytes);
                EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), c.nResult);
                EXPECT_EQ(dwImageTaken, c.dwTaken);
                EXPECT_EQ(fImageStalled, c.nResult == IMAGE_STALLED);
                EXPECT_EQ(recorder::CallsNamed("ProgressStep").size(), c.dwSteps);
                EXPECT_EQ(recorder::CallsNamed("WriteCommBytes").size(), c.dwWrites);
            }
            const std::string line = Line();
            EXPECT_TRUE(line == bytes.substr(0, line.size())) << "bytes skipped or out of order";
            EXPECT_EQ(line.size(), c.nResult == 1 ? bytes.size() : c.dwTaken);
        }
    }
    EXPECT_EQ(OpenFiles(), nOpen) << "an image was left open (on Windows: locked)";
}

// Opening the image: a long path works; a missing file says so (owned by
// the main window) without touching the buttons; for an empty field the
// chooser's pick goes into the field, and a cancelled chooser sends "r"
// whatever the model and ends the dialog.  Every opened image is closed.
TEST_F(Install, OpeningTheImage)
{
    const size_t nOpen = OpenFiles();
    const std::string longPath = Write(std::string(120, 'd') + "/image.bin", "IMG");
    ASSERT_GT(longPath.size(), 99u);
    recorder::gFileField = longPath;
    EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 1);
    EXPECT_EQ(recorder::Transcript(), kSendImage);

    recorder::ClearCalls();
    recorder::gFileField = (dir / "missing.bin").string();
    EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 0);
    EXPECT_EQ(recorder::Transcript(), "m:Creat File Fail/Error");
    EXPECT_EQ(recorder::CallsNamed("Message")[0].hWnd, hMain);

    recorder::ClearCalls();
    recorder::gFileField.clear();
    nModel = 2;
    recorder::gChooserAnswer = image;
    EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 1);
    EXPECT_EQ(recorder::Transcript(), "choose field:" + image + " " + kSendImage);

    recorder::ClearCalls();
    recorder::gFileField.clear();
    recorder::gChooserAnswer.reset();
    EXPECT_EQ(SendFileInstall(hDlg, gszMyFileName), 0);
    EXPECT_EQ(recorder::Transcript(), "choose w:r\\r end");
    EXPECT_EQ(OpenFiles(), nOpen) << "an image was left open (on Windows: locked)";
}

// Shift+F3: the chosen file in one write; nothing without a choice or a file.
TEST_F(Install, SendFileWritesTheWholeFile)
{
    const std::string bytes(5000, 'z');
    recorder::gChooserAnswer = Write("whole.bin", bytes);
    EXPECT_EQ(SendFile(hMain), 1);
    const auto writes = recorder::CallsNamed("WriteCommBytes");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_TRUE(writes[0].bytes == bytes);

    recorder::Reset();
    EXPECT_EQ(SendFile(hMain), 0);
    recorder::gChooserAnswer = (dir / "missing.bin").string();
    EXPECT_EQ(SendFile(hMain), 0);
    EXPECT_EQ(recorder::Transcript(), "choose choose");
}

} // namespace
