// The module simulator as scenarios use it: a request that must succeed, and
// the report.
#include "driver.h"

bool Sim(const std::string& line)
{
    std::string reply = SimRequest(line);
    return CHECK(reply == "ok", "the simulator answered \"%s\" to \"%s\"", reply.c_str(), line.c_str());
}

Json SimReport()
{
    return Json::Parse(SimRequest("report"));
}

Json WaitReport(const std::function<bool(const Json&)>& done, DWORD dwLimit)
{
    Json report;
    WaitUntil([&]() { return done(report = SimReport()); }, dwLimit);
    return report;
}

Json LastCommand(const Json& report, const char* kind)
{
    const Json& commands = report["commands"];
    for (size_t i = commands.size(); i-- > 0;)
        if (commands[i]["kind"].str() == kind)
            return commands[i];
    return Json();
}
