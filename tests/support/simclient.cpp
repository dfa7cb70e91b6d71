#include <winsock2.h>
#include <windows.h>

#include "tests/support/simclient.h"

namespace {

const DWORD kAnswerWait = 60000;   // a simulator that hangs fails the request

SOCKET gSim = INVALID_SOCKET;
int gSimPort = 0;
std::string gSimInput;   // received, not yet read as a line

void SimClose()
{
    if (gSim != INVALID_SOCKET)
        closesocket(gSim);
    gSim = INVALID_SOCKET;
    gSimInput.clear();
}

bool SimOpen()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons((u_short)gSimPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, (sockaddr*)&addr, sizeof(addr)) != 0) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        return false;
    }
    DWORD timeout = kAnswerWait;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof(timeout));
    gSim = s;
    return true;
}

// 0 when the connection is gone, -1 when the answer is late or broken.
int SimReadLine(std::string* line)
{
    size_t eol;
    while ((eol = gSimInput.find('\n')) == std::string::npos) {
        char buf[4096];
        int n = recv(gSim, buf, sizeof(buf), 0);
        if (n <= 0)
            return n == 0 || WSAGetLastError() == WSAECONNRESET ? 0 : -1;
        gSimInput.append(buf, n);
    }
    *line = gSimInput.substr(0, eol);
    gSimInput.erase(0, eol + 1);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return 1;
}

} // namespace

bool SimConnect(int port)
{
    static WSADATA wsa;
    static bool fStarted = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    SimClose();
    gSimPort = port;
    if (!fStarted || port <= 0 || port >= 65536)
        return false;
    for (int tries = 0; tries < 100; tries++) {
        if (SimOpen())
            return true;
        Sleep(100);
    }
    return false;
}

// A connection the simulator dropped is made again once and the request
// sent again; one it did not answer in time is not, so nothing runs twice.
std::string SimRequest(const std::string& line)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        if (gSim == INVALID_SOCKET && !(gSimPort && SimOpen()))
            break;
        std::string out = line + "\n", reply;
        int got = send(gSim, out.data(), (int)out.size(), 0) == (int)out.size() ? SimReadLine(&reply) : 0;
        if (got > 0)
            return reply;
        SimClose();
        if (got < 0)
            return "error: the simulator did not answer \"" + line + "\"";
    }
    return "error: no connection to the simulator";
}
