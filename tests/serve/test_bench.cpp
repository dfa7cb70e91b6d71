// The bench view's state, fed event lines as orvane-cli prints them: what
// each tile and the header show after each event, and which messages an
// open page is sent.
#include "orvane/cli/serve/bench.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

std::string Unit(const std::string& event, const std::string& port, const std::string& fields = "", int attempt = 1)
{
    return "{\"schema\":1,\"event\":\"" + event + "\",\"port\":\"" + port + "\",\"attempt\":" + std::to_string(attempt) +
           (fields.empty() ? "" : "," + fields) + "}";
}

std::string Status(const std::string& port, const std::string& text)
{
    return Unit("status", port, "\"elapsed_s\":1.0,\"text\":\"" + text + "\"");
}

std::string Progress(const std::string& port, int bytes, int total)
{
    return Unit("progress", port,
                "\"bytes\":" + std::to_string(bytes) + ",\"total\":" + std::to_string(total) + ",\"percent\":" +
                    std::to_string(bytes * 100 / total) + ",\"bytes_per_s\":11000,\"seconds_left\":2.0,\"elapsed_s\":3.0");
}

std::string Result(const std::string& port, const std::string& result, const std::string& reasonCode, int attempt = 1,
                   const std::string& unitId = "")
{
    return "{\"schema\":1,\"event\":\"result\",\"port\":\"" + port + "\",\"device\":\"/dev/pts/9\",\"attempt\":" +
           std::to_string(attempt) + ",\"code\":" + (result == "PASS" ? "0" : "5") + ",\"result\":\"" + result +
           "\",\"reason_code\":\"" + reasonCode + "\",\"reason\":" +
           (result == "PASS" ? "null" : "\"stopped sending the image: the port went away; check the cable\"") +
           ",\"model\":\"MRQ-520W\",\"verdict\":null,\"last_received\":null,\"image\":\"fw.bin\",\"size\":100,"
           "\"sha256\":null,\"start\":\"2026-12-07T16:15:43Z\",\"duration_s\":12.5,\"bytes_per_s\":null,\"unit_id\":" +
           (unitId.empty() ? "null" : "\"" + unitId + "\"") + ",\"bench\":\"B2\"}";
}

const std::string kStart =
    R"({"schema":1,"event":"start","version":"2.1.0","image":"/srv/fw.bin","ports":["/dev/ttyUSB0"],)"
    R"("ports_given":["/dev/ttyUSB0"],"devices":["/dev/ttyUSB0"],"size":100,"sha256":"ab","operator":"ann",)"
    R"("options":{"job":"line3.job"}})";

Json SlotOf(const BenchState& state, const std::string& port)
{
    const Json all = Json::parse(state.Snapshot());
    for (const Json& s : all["slots"])
        if (s["port"] == port)
            return s;
    return Json();
}

// Each step: an event, then what the tile of /dev/ttyUSB0 shows (fields
// of its JSON, "" for null).
struct Step
{
    std::string event;
    std::string stage, result, model, unitId;
    int percent;
};

TEST(BenchState, TileFollowsTheUnitAndHoldsItsResultUntilTheNextUnitAnswers)
{
    const std::string p = "/dev/ttyUSB0";
    const Step steps[] = {
        {kStart, "starting", "", "", "", -1},
        {Unit("unit_start", p, "\"time\":\"2026-12-07T16:15:43Z\""), "waiting", "", "", "", -1},
        {Status(p, "Turn the power on, after removing the LAN card during power-off."), "waiting", "", "", "", -1},
        {Status(p, "Initializing!"), "waking", "", "", "", -1},
        {Unit("unit_id", p, "\"unit_id\":\"24-0117\""), "waking", "", "", "24-0117", -1},
        {Status(p, "Preparing for Programming!"), "preparing", "", "", "24-0117", -1},
        {Status(p, "Downloading program to MRQ-41!"), "sending", "", "MRQ-41", "24-0117", -1},
        {Progress(p, 30, 100), "sending", "", "MRQ-41", "24-0117", 30},
        {Progress(p, 100, 100), "verdict", "", "MRQ-41", "24-0117", 100},
        {Status(p, "Success to Install!"), "verdict", "", "MRQ-41", "24-0117", 100},
        {Result(p, "PASS", "installed", 1, "24-0117"), "done", "PASS", "MRQ-520W", "24-0117", 100},
        // The station waits for the next unit: PASS stays.
        {Unit("unit_start", p, "\"time\":\"2026-12-07T16:16:43Z\""), "waiting", "PASS", "", "", -1},
        {Status(p, "Turn the power on, after removing the LAN card during power-off."), "waiting", "PASS", "", "", -1},
        // The next module answers: the last unit's result goes.
        {Status(p, "Initializing!"), "waking", "", "", "", -1},
        // A failed attempt, then its retry: FAIL with its reason until the
        // module answers the retry; the unit keeps its id.
        {Unit("unit_id", p, "\"unit_id\":\"24-0118\""), "waking", "", "", "24-0118", -1},
        {Result(p, "FAIL", "port_gone", 1, "24-0118"), "done", "FAIL", "MRQ-520W", "24-0118", -1},
        {Unit("unit_start", p, "\"time\":\"2026-12-07T16:17:43Z\"", 2), "waiting", "FAIL", "MRQ-520W", "24-0118", -1},
        {Status(p, "Preparing for Programming!"), "preparing", "", "MRQ-520W", "24-0118", -1},
        {Status(p, "Downloading program to MRQ-710F!"), "sending", "", "MRQ-710F", "24-0118", -1},
    };
    BenchState state;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.event);
        state.Feed(step.event);
        const Json s = SlotOf(state, p);
        ASSERT_TRUE(s.is_object());
        EXPECT_EQ(s["stage"], step.stage);
        EXPECT_EQ(s["last"].is_null() ? "" : s["last"]["result"].get<std::string>(), step.result);
        EXPECT_EQ(s["model"], step.model);
        EXPECT_EQ(s["unit_id"], step.unitId);
        EXPECT_EQ(s["progress"].is_null() ? -1 : s["progress"]["percent"].get<int>(), step.percent);
    }
}

TEST(BenchState, SlotsAreNamedAndOrderedAsTheJobSays)
{
    BenchState state;
    state.Feed(R"({"schema":1,"event":"start","version":"2.1.0","image":"fw.bin","ports":[],"matches":["/hub/com*"],)"
               R"("slots":[{"port":"com2","name":"left 1"},{"port":"/hub/com1","name":"left 2"}],"options":{"job":null}})");
    state.Feed(R"({"schema":1,"event":"port_added","port":"/hub/com10","device":"/dev/pts/3","adapter":null})");
    state.Feed(R"({"schema":1,"event":"port_added","port":"/hub/com3","device":"/dev/pts/4","adapter":null})");
    state.Feed(R"({"schema":1,"event":"port_added","port":"/hub/com2","device":"/dev/pts/5","adapter":null})");
    const Json slots = Json::parse(state.Snapshot())["slots"];
    const std::vector<std::vector<std::string>> expect = {
        {"/hub/com2", "left 1", "starting"},    // named by its last part, placed by its line
        {"/hub/com1", "left 2", "absent"},      // named, no adapter yet
        {"/hub/com3", "/hub/com3", "starting"}, // the others after them, com3 before com10
        {"/hub/com10", "/hub/com10", "starting"},
    };
    ASSERT_EQ(slots.size(), expect.size()) << slots.dump();
    for (size_t i = 0; i < expect.size(); ++i) {
        EXPECT_EQ(slots[i]["port"], expect[i][0]) << i;
        EXPECT_EQ(slots[i]["name"], expect[i][1]) << i;
        EXPECT_EQ(slots[i]["stage"], expect[i][2]) << i;
    }
}

// A pulled adapter: its tile stays, gone, with the unit's FAIL and reason;
// the header counts units as report does (a retry that passed is one unit,
// not passed first time).
TEST(BenchState, PulledAdapterAndFiguresAsReportCountsThem)
{
    BenchState state;
    state.Feed(kStart);
    const std::string a = "/dev/ttyUSB0", b = "/hub/com2";
    state.Feed(R"({"schema":1,"event":"port_added","port":"/hub/com2","device":"/dev/pts/5","adapter":null})");
    state.Feed(Progress(b, 40, 100));
    state.Feed(R"({"schema":1,"event":"port_removed","port":"/hub/com2","units":0,"passed":0,"failed":0})");
    state.Feed(Result(b, "FAIL", "port_gone"));
    state.Feed(Result(a, "FAIL", "no_answer", 1));
    state.Feed(Result(a, "PASS", "installed", 2));
    state.Feed(Result(a, "PASS", "installed", 1));

    const Json gone = SlotOf(state, b);
    EXPECT_FALSE(gone["present"]);
    EXPECT_EQ(gone["last"]["result"], "FAIL");
    EXPECT_EQ(gone["last"]["reason_code"], "port_gone");
    EXPECT_NE(gone["last"]["reason"].get<std::string>().find("the port went away"), std::string::npos);
    EXPECT_EQ(gone["counts"], Json::parse(R"({"units":1,"passed":0,"failed":1})"));
    EXPECT_EQ(SlotOf(state, a)["counts"], Json::parse(R"({"units":2,"passed":2,"failed":0})"));

    const Json bench = Json::parse(state.Snapshot())["bench"];
    EXPECT_EQ(bench["report"]["units"], 3);
    EXPECT_EQ(bench["report"]["passed"], 2);
    EXPECT_EQ(bench["report"]["failed"], 1);
    EXPECT_EQ(bench["report"]["retries"], 1);
    EXPECT_NEAR(bench["report"]["first_pass_yield"].get<double>(), 1.0 / 3, 1e-4);
    EXPECT_EQ(bench["report"]["failures"], Json::parse(R"([{"reason":"port_gone","units":1}])"));
    EXPECT_EQ(bench["sha256"], "ab");
    EXPECT_EQ(bench["operator"], "ann");
    EXPECT_EQ(bench["bench"], "B2");   // from the results, as the start event had none
    EXPECT_EQ(bench["job"], "line3.job");
}

// What an open page is sent: a tile for a unit's event, the tile and the
// header for a result, everything when a tile comes or the run ends,
// nothing for what it does not show.
TEST(BenchState, MessagesForAnOpenPage)
{
    BenchState state;
    auto types = [&](const std::string& line) {
        std::string out;
        for (const std::string& m : state.Feed(line))
            out += Json::parse(m)["type"].get<std::string>() + " ";
        return out;
    };
    EXPECT_EQ(types(kStart), "state ");
    EXPECT_EQ(types(Status("/dev/ttyUSB0", "Initializing!")), "slot ");
    EXPECT_EQ(types(Result("/dev/ttyUSB0", "PASS", "installed")), "slot bench ");
    EXPECT_EQ(types(Status("/dev/ttyUSB1", "Initializing!")), "state ");
    EXPECT_EQ(types(R"({"schema":1,"event":"report","by":"port"})"), "");
    EXPECT_EQ(types("{\"schema\":1,\"event\":\"status\",\"port\":"), "");   // torn
    EXPECT_EQ(types(R"({"schema":1,"event":"summary","code":0,"units":1,"passed":1,"failed":0,"ports":[]})"), "state ");
    const Json all = Json::parse(state.Snapshot());
    EXPECT_TRUE(all["bench"]["ended"]);
    EXPECT_EQ(all["slots"][0]["stage"], "ended");
    EXPECT_EQ(all["slots"][0]["last"]["result"], "PASS");
}

} // namespace
