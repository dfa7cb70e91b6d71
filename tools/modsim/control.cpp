#include "tools/modsim/control.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace modsim {

namespace {

constexpr size_t kMaxRequest = 1 << 20;   // a client that sends more without a newline is dropped

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool decode_escapes(std::string_view text, std::string& out, std::string& error)
{
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            error = "escape at end of text";
            return false;
        }
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hex_digit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            out += char(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + text[i];
            return false;
        }
    }
    return true;
}

ControlServer::~ControlServer()
{
    for (Client& c : clients_)
        ::close(c.fd);
    if (listener_ >= 0)
        ::close(listener_);
}

bool ControlServer::listen(int port, std::string& error)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    socklen_t size = sizeof(addr);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listener_, 16) != 0
        || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        error = "control port " + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    port_ = ntohs(addr.sin_port);
    return true;
}

void ControlServer::add_pollfds(std::vector<pollfd>& fds) const
{
    if (listener_ < 0)
        return;
    fds.push_back({listener_, POLLIN, 0});
    for (const Client& c : clients_) {
        short events = c.closing ? 0 : POLLIN;
        if (!c.out.empty())
            events |= POLLOUT;
        fds.push_back({c.fd, events, 0});
    }
}

void ControlServer::serve(const pollfd* fds, const Handler& handler)
{
    if (listener_ < 0)
        return;
    const bool incoming = fds[0].revents & POLLIN;
    for (size_t i = 0; i < clients_.size(); ++i) {
        Client& c = clients_[i];
        const short revents = fds[1 + i].revents;
        if (revents & POLLIN) {
            char buf[4096];
            const ssize_t n = ::read(c.fd, buf, sizeof(buf));
            if (n > 0)
                c.in.append(buf, size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                c.closing = true;
        } else if (revents & (POLLHUP | POLLERR)) {
            c.closing = true;
        }
        size_t nl;
        while ((nl = c.in.find('\n')) != std::string::npos) {
            std::string request = c.in.substr(0, nl);
            c.in.erase(0, nl + 1);
            if (!request.empty() && request.back() == '\r')
                request.pop_back();
            c.out += handler(request) + "\n";
        }
        if (c.in.size() > kMaxRequest)
            c.closing = true;
        send_pending(c);
    }
    // A closing client goes once it has been told everything (or cannot be).
    std::erase_if(clients_, [](const Client& c) {
        if (c.closing && c.out.empty()) {
            ::close(c.fd);
            return true;
        }
        return false;
    });
    if (incoming)
        accept_clients();
}

void ControlServer::send_pending(Client& c)
{
    while (!c.out.empty()) {
        const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            c.out.erase(0, size_t(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        } else {
            c.out.clear();   // the client has gone
            c.closing = true;
            return;
        }
    }
}

void ControlServer::accept_clients()
{
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        clients_.push_back({fd, {}, {}, false});
    }
}

void ControlServer::flush(int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        std::vector<pollfd> fds;
        for (Client& c : clients_) {
            send_pending(c);
            if (!c.out.empty())
                fds.push_back({c.fd, POLLOUT, 0});
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (fds.empty() || left.count() <= 0)
            return;
        ::poll(fds.data(), fds.size(), int(left.count()));
    }
}

} // namespace modsim
