// The bench view's state fed event lines: what tiles and header show, what a page is sent.
#include "orvane/cli/serve/bench.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <algorithm>

namespace {

using Json = nlohmann::json;

std::string Ev(const std::string& event, const std::string& port, Json f = Json::object(), int attempt = 1)
{
    f["schema"] = 1;
    f["event"] = event;
    f["port"] = port;
    f["attempt"] = attempt;
    return f.dump();
}
std::string Status(const std::string& port, const char* text) { return Ev("status", port, {{"text", text}}); }
std::string Progress(const std::string& port, int bytes) { return Ev("progress", port, {{"bytes", bytes}, {"total", 100}, {"percent", bytes}}); }
std::string Result(const std::string& port, const char* result, const char* code, int attempt = 1, const char* id = "")
{
    return Ev("result", port, {{"result", result}, {"reason_code", code}, {"model", "MRQ-520W"}, {"bench", "B2"},
                               {"reason", std::string(result) == "PASS" ? Json() : Json("stopped sending the image: the port went away")},
                               {"start", "2026-12-07T16:15:43Z"}, {"duration_s", 12.5}, {"unit_id", id}}, attempt);
}
const std::string kStart = R"({"schema":1,"event":"start","version":"2.1.0","image":"/srv/fw.bin","ports":["/dev/ttyUSB0"],)"
                           R"("size":100,"sha256":"ab","operator":"ann","options":{"job":"line3.job"}})";

Json SlotOf(const BenchState& state, const std::string& port)
{
    const Json all = Json::parse(state.Snapshot())["slots"];
    const auto it = std::find_if(all.begin(), all.end(), [&](const Json& s) { return s["port"] == port; });
    return it == all.end() ? Json() : *it;
}

TEST(BenchState, TileFollowsTheUnitAndHoldsItsResultUntilTheNextUnitAnswers)
{
    const std::string p = "/dev/ttyUSB0";
    struct Step
    {
        std::string event, stage, result, model, unitId;
        int percent;   // -1: no progress
    };
    const Step steps[] = {
        {kStart, "starting", "", "", "", -1},
        {Ev("unit_start", p), "waiting", "", "", "", -1},
        {Status(p, "Turn the power on, after removing the LAN card during power-off."), "waiting", "", "", "", -1},
        {Status(p, "Initializing!"), "waking", "", "", "", -1},
        {Ev("unit_id", p, {{"unit_id", "24-0117"}}), "waking", "", "", "24-0117", -1},
        {Status(p, "Preparing for Programming!"), "preparing", "", "", "24-0117", -1},
        {Status(p, "Downloading program to MRQ-41!"), "sending", "", "MRQ-41", "24-0117", -1},
        {Progress(p, 30), "sending", "", "MRQ-41", "24-0117", 30},
        {Progress(p, 100), "verdict", "", "MRQ-41", "24-0117", 100},
        {Result(p, "PASS", "installed", 1, "24-0117"), "done", "PASS", "MRQ-520W", "24-0117", 100},
        // The station waits for the next unit: PASS stays...
        {Ev("unit_start", p), "waiting", "PASS", "", "", -1},
        {Status(p, "Turn the power on, after removing the LAN card during power-off."), "waiting", "PASS", "", "", -1},
        // ...until the next module answers.
        {Status(p, "Initializing!"), "waking", "", "", "", -1},
        // A failed attempt and its retry: FAIL until the module answers the
        // retry; the unit keeps its id.
        {Result(p, "FAIL", "port_gone", 1, "24-0118"), "done", "FAIL", "MRQ-520W", "24-0118", -1},
        {Ev("unit_start", p, Json::object(), 2), "waiting", "FAIL", "MRQ-520W", "24-0118", -1},
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
    state.Feed(R"({"schema":1,"event":"start","image":"fw.bin","ports":[],"options":{},)"
               R"("slots":[{"port":"com2","name":"left 1"},{"port":"/hub/com1","name":"left 2"}]})");
    for (const char* port : {"/hub/com10", "/hub/com3", "/hub/com2", "/hub/com4.new"})
        state.Feed(R"({"schema":1,"event":"port_added","port":")" + std::string(port) + "\"}");
    state.Feed(R"({"schema":1,"event":"port_removed","port":"/hub/com4.new"})");   // came and went
    const Json slots = Json::parse(state.Snapshot())["slots"];
    const std::vector<std::vector<std::string>> expect = {
        {"/hub/com2", "left 1", "starting"},    // named by its last part, placed by its line
        {"/hub/com1", "left 2", "absent"},      // named, no adapter yet
        {"/hub/com3", "/hub/com3", "starting"}, // the others after them, com3 before com10
        {"/hub/com10", "/hub/com10", "starting"},
    };
    ASSERT_EQ(slots.size(), expect.size()) << slots.dump();
    for (size_t i = 0; i < expect.size(); ++i)
        EXPECT_EQ((std::vector<std::string>{slots[i]["port"], slots[i]["name"], slots[i]["stage"]}), expect[i]) << i;
}

// A pulled adapter: its tile stays, gone, with the unit's FAIL and reason;
// the header counts as report does (a retry that passed is one unit, not
// passed first time).  And what an open page is sent for each event.
TEST(BenchState, PulledAdapterFiguresAndMessages)
{
    BenchState state;
    auto sent = [&](const std::string& line) {
        std::string types;
        for (const std::string& m : state.Feed(line))
            types += Json::parse(m)["type"].get<std::string>() + " ";
        return types;
    };
    const std::string a = "/dev/ttyUSB0", b = "/hub/com2";
    EXPECT_EQ(sent(kStart), "state ");
    EXPECT_EQ(sent(R"({"schema":1,"event":"port_added","port":"/hub/com2"})"), "state ");   // a tile came
    EXPECT_EQ(sent(Progress(b, 40)), "slot ");
    sent(R"({"schema":1,"event":"port_removed","port":"/hub/com2"})");
    EXPECT_EQ(sent(Result(b, "FAIL", "port_gone")), "slot bench ");
    sent(Result(a, "FAIL", "no_answer", 1));
    sent(Result(a, "PASS", "installed", 2));
    sent(Result(a, "PASS", "installed", 1));
    EXPECT_EQ(sent(R"({"schema":1,"event":"report","by":"port"})"), "");
    EXPECT_EQ(sent("{\"schema\":1,\"event\":\"status\",\"port\":"), "");   // torn

    const Json gone = SlotOf(state, b);
    EXPECT_FALSE(gone["present"]);
    EXPECT_EQ(gone["last"]["result"], "FAIL");
    EXPECT_EQ(gone["last"]["reason"], "stopped sending the image: the port went away");
    EXPECT_EQ(gone["counts"], Json::parse(R"({"units":1,"passed":0,"failed":1})"));
    EXPECT_EQ(SlotOf(state, a)["counts"], Json::parse(R"({"units":2,"passed":2,"failed":0})"));
    const Json bench = Json::parse(state.Snapshot())["bench"];
    EXPECT_EQ(bench["report"]["units"], 3);
    EXPECT_EQ(bench["report"]["retries"], 1);
    EXPECT_NEAR(bench["report"]["first_pass_yield"].get<double>(), 1.0 / 3, 1e-4);
    EXPECT_EQ(bench["report"]["failures"], Json::parse(R"([{"reason":"port_gone","units":1}])"));
    EXPECT_EQ(bench["sha256"].get<std::string>() + bench["operator"].get<std::string>() +
                  bench["bench"].get<std::string>() + bench["job"].get<std::string>(),
              "abannB2line3.job");   // the bench from the results: the start event had none

    // --deliver: the header's record counts, as they change and at the end.
    EXPECT_TRUE(Json::parse(state.Snapshot())["bench"]["delivery"].is_null());
    EXPECT_EQ(sent(R"({"schema":1,"event":"spool","spool":"s","sent":2,"waiting":1,"rejected":0})"), "bench ");
    EXPECT_EQ(Json::parse(state.Snapshot())["bench"]["delivery"]["waiting"], 1);

    EXPECT_EQ(sent(R"({"schema":1,"event":"summary","code":5,"delivery":{"spool":"s","sent":3,"waiting":0,"rejected":1}})"),
              "state ");
    const Json ended = Json::parse(state.Snapshot());
    EXPECT_EQ(ended["bench"]["delivery"], Json::parse(R"({"sent":3,"waiting":0,"rejected":1})"));
    EXPECT_TRUE(ended["bench"]["ended"]);
    EXPECT_EQ(SlotOf(state, a)["stage"], "ended");
}

} // namespace
