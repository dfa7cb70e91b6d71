#include "tests/support/simprocess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

pid_t SpawnWithPipe(std::vector<std::string> args, int* pOut)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    *pOut = fds[0];
    return pid;
}

SimProcess::SimProcess(const std::string& linkPath, std::vector<std::string> options) : link(linkPath)
{
    const std::string ready = link + ".ready";
    std::remove(ready.c_str());
    options.insert(options.begin(), { MODSIM_PATH, "--link", link, "--control", "0", "--ready-file", ready });
    int out;
    pid_ = SpawnWithPipe(options, &out);
    close(out);
    std::string line;   // "modsim ready link=PATH control=PORT"
    for (int i = 0; i < 250 && line.empty(); ++i) {
        std::ifstream in(ready);
        std::getline(in, line);
        if (line.empty())
            std::this_thread::sleep_for(20ms);
    }
    const size_t at = line.find("control=");
    control_ = socket(AF_INET, SOCK_STREAM, 0);
    const timeval answerLimit{ 5, 0 };   // a simulator that hangs fails the request
    setsockopt(control_, SOL_SOCKET, SO_RCVTIMEO, &answerLimit, sizeof(answerLimit));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 8)));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(control_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0) << "no simulator at " << link;
}

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(control_);
}

std::string SimProcess::Request(const std::string& line)
{
    const std::string out = line + "\n";
    EXPECT_EQ(send(control_, out.data(), out.size(), MSG_NOSIGNAL), ssize_t(out.size()));
    std::string answer;
    char c;
    while (recv(control_, &c, 1, 0) == 1 && c != '\n')
        answer += c;
    return answer;
}

std::string SimProcess::WaitReport(const std::string& text, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string report = Request("report");
    while (report.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(20ms);
        report = Request("report");
    }
    return report;
}

int SimProcess::Quit()
{
    EXPECT_EQ(Request("quit"), "ok");
    int status = -1;
    for (int i = 0; i < 250 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(20ms);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
