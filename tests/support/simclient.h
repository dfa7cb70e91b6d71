// The module simulator's control channel, for Windows test programs: TCP on
// 127.0.0.1:PORT, one request line out ("report", "clear", "reset",
// "set NAME=VALUE ...", "power on|off", "send TEXT" with \r \n \xHH escapes,
// "flood N [SEED]", "hangup", "quit"), one line back: "ok", "error ...", or
// the report as one line of JSON.
#ifndef ORVANE_TESTS_SIMCLIENT_H
#define ORVANE_TESTS_SIMCLIENT_H

#include <string>

// Connects, trying for a few seconds: the simulator may still be starting.
bool SimConnect(int port);
// One request, its answer; "error ..." when there is no answer.
std::string SimRequest(const std::string& line);

#endif
