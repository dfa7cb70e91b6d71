// What the module sent, as the port's watcher hands it on: the line being
// received, the last whole line and the first (the boot monitor's), and
// whether a line held 302.
#ifndef ORVANE_CLI_RECEIVED_H
#define ORVANE_CLI_RECEIVED_H

#include <string>

// The received bytes, block by block (the port's tap).
void TapReceived(const unsigned char* lpBlock, int nLength);
// A new unit: nothing received yet.
void ForgetReceived();
// The line being received, or else the last whole one: printable, at most
// 40 characters.
std::string LastReceived();
// The first whole non-empty line since ForgetReceived.
std::string FirstReceived();
bool Saw302();

#endif
