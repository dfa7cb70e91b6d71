// The port link as a user meets it: the program starts connected to the
// module on COM1, and typed characters and Shift+F2's test block reach the
// module at the normal rate.
#include "../lib/driver.h"

namespace {

std::string LineOf(const Json& command)
{
    const Json& line = command["line"];
    return std::to_string((long)line["baud"].num()) + " " + std::to_string((int)line["data_bits"].num()) +
           line["parity"].str().substr(0, 1) + std::to_string((int)line["stop_bits"].num());
}

// With COM1 present the window comes up connected, with no box, and the
// line is at the normal rate.
void StartWithPort()
{
    REQUIRE(Attach() != NULL, "no window of class TTYWndClass appeared");
    CHECK(WaitUntil([]() { return IsWindowVisible(gMain) != FALSE; }), "the main window did not show");
    // The menu opens for a click only on a program that showed no box first.
    std::string lines = ActionMenu("connected-menu");
    CHECK(lines == "grey normal normal normal", "Action menu lines are [%s], want [grey normal normal normal] "
          "(Connect, Disconnect, Download, Exit)", lines.c_str());
    std::string line = LineOf(SimReport());
    CHECK(line == "19200 8n1", "the module sees the line at %s, want 19200 8n1", line.c_str());
}

// A typed key goes out as it is; Shift+F2 sends 512 'X'.
void TypedAndTestBlock()
{
    Sim("clear");
    Type(gMain, "h");
    Json report = WaitReport([](const Json& r) { return !LastCommand(r, "data").isNull(); });
    Json typed = LastCommand(report, "data");
    CHECK(typed["text"].str() == "h" && typed["count"].num() == 1, "the module got \"%s\" for the key h",
          typed["text"].str().c_str());
    CHECK(LineOf(typed) == "19200 8n1", "the key went out at %s", LineOf(typed).c_str());

    Sim("clear");
    Chord(gMain, { VK_SHIFT, VK_F2 });
    report = WaitReport([](const Json& r) { return LastCommand(r, "data")["count"].num() >= 512; });
    Json block = LastCommand(report, "data");
    CHECK(block["count"].num() == 512 && block["text"].str().find_first_not_of('X') == std::string::npos,
          "Shift+F2 sent %d bytes \"%s...\"", (int)block["count"].num(), block["text"].str().substr(0, 16).c_str());
}

} // namespace

const Suite kLink("link", {
    { "start-with-com1", StartWithPort, true },
    { "typed-and-test-block", TypedAndTestBlock },
});
