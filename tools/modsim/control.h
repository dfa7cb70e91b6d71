// The control channel: a TCP listener on 127.0.0.1 and its clients, one
// request line in, one response line out.  What a request means is the event
// loop's business (main.cpp).
#ifndef ORVANE_TOOLS_MODSIM_CONTROL_H
#define ORVANE_TOOLS_MODSIM_CONTROL_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct pollfd;

namespace modsim {

// Decodes the escapes of `send`: \r \n \t \\ and \xHH.
bool decode_escapes(std::string_view text, std::string& out, std::string& error);

class ControlServer {
public:
    using Handler = std::function<std::string(const std::string& request)>;

    ControlServer() = default;
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    ~ControlServer();

    bool listen(int port, std::string& error);
    int port() const { return port_; }

    // Appends the listener and the clients to the poll set.
    void add_pollfds(std::vector<pollfd>& fds) const;
    // Serves the events of the entries add_pollfds appended, in the same
    // order; each complete request line is answered with handler's line.
    void serve(const pollfd* fds, const Handler& handler);
    // Writes out what is still owed to the clients, waiting at most timeout_ms.
    void flush(int timeout_ms);

private:
    struct Client {
        int fd;
        std::string in;
        std::string out;
        bool closing = false;
    };

    void accept_clients();
    static void send_pending(Client& client);

    int listener_ = -1;
    int port_ = 0;
    std::vector<Client> clients_;
};

} // namespace modsim

#endif
