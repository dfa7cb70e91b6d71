// modsim: plays a module's boot monitor on a pseudo-terminal for the Windows
// program under Wine.  This file holds the event loop and the control
// requests; the monitor itself is in module.cpp.
#include "tools/modsim/control.h"
#include "tools/modsim/module.h"
#include "tools/modsim/options.h"
#include "tools/modsim/output.h"
#include "tools/modsim/pty.h"
#include "tools/modsim/report.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace modsim {

namespace {

constexpr double kBackoffMs = 100;   // after the master reports a hang-up or an error
constexpr double kBusyLookMs = 5;    // how soon to look again at a line whose bytes wait
constexpr size_t kReadBytes = 4096;     // a gulp
constexpr size_t kInboxBytes = 8192;   // read but not yet delivered at wire speed

double now_ms()
{
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Written beside the file and renamed over it: readers never see half a file.
bool write_file_atomically(const std::string& path, const std::string& text)
{
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

std::vector<std::string> split_words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

class Simulator {
public:
    explicit Simulator(const Options& options) : opt_(options), start_opt_(options), module_(options.module) {}
    int run();

private:
    bool start();
    bool uart_reader() const { return opt_.pace && !opt_.gulp && line_.baud > 0; }
    bool want_to_read(double now);
    void read_line();
    void deliver(double now);
    void write_line(double now);
    void after_module(double now);
    void hang_up();
    std::string unplug();
    std::string plug();
    void write_report();
    std::optional<double> next_wakeup(double now, bool fLineBusy);
    // Bytes the sender wrote that the pty holds unread.
    bool waiting_on_line() const
    {
        int n = 0;
        return ::ioctl(pty_.master(), FIONREAD, &n) == 0 && n > 0;
    }
    std::string handle(const std::string& request);
    std::string handle_set(const std::vector<std::string>& words);

    Options opt_;
    Options start_opt_;   // as given on the command line
    Module module_;
    Pty pty_;
    OutputQueue out_;
    Pacer pacer_;
    std::string inbox_;   // read from the pty, waiting for its wire time
    bool more_waiting_ = false;   // the last UART read left bytes on the line
    ControlServer control_;
    int signal_fd_ = -1;
    Line line_;
    std::optional<double> backoff_until_;
    bool quit_ = false;
    bool unplugged_ = false;
};

bool Simulator::start()
{
    now_ms();   // report times count from here
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    signal_fd_ = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!pty_.open(opt_.link, error) || (opt_.control_port && !control_.listen(*opt_.control_port, error))) {
        std::fprintf(stderr, "modsim: %s\n", error.c_str());
        pty_.unpublish();
        return false;
    }
    line_ = pty_.line();
    if (opt_.powered)
        module_.power_on(now_ms());

    const std::string ready = "modsim ready link=" + opt_.link + " control="
        + (opt_.control_port ? std::to_string(control_.port()) : std::string("none")) + "\n";
    std::fputs(ready.c_str(), stdout);
    std::fflush(stdout);
    if (!opt_.ready_file.empty() && !write_file_atomically(opt_.ready_file, ready))
        std::fprintf(stderr, "modsim: cannot write %s\n", opt_.ready_file.c_str());
    return true;
}

int Simulator::run()
{
    if (!start())
        return 1;

    std::vector<pollfd> fds;
    while (!quit_) {
        double now = now_ms();
        // The line is silent only when nothing the sender wrote waits: on a
        // loaded host the pty hands bytes on late (the loop was measured
        // waking 300-800 ms apart with 4 KiB waiting), where a UART would
        // have received them as they came.
        const bool fLineBusy = !inbox_.empty() || waiting_on_line();
        module_.tick(now, fLineBusy);
        after_module(now);
        if (backoff_until_ && now >= *backoff_until_)
            backoff_until_.reset();

        // The master: read when the pacer lets us, write when something is
        // due; neither while backing off.
        short master_events = 0;
        if (!backoff_until_) {
            if (want_to_read(now))
                master_events |= POLLIN;
            const std::optional<double> out_at = out_.ready_at();
            if (out_at && *out_at <= now)
                master_events |= POLLOUT;
        }
        fds.clear();
        fds.push_back({signal_fd_, POLLIN, 0});
        fds.push_back({pty_.master(), master_events, 0});
        control_.add_pollfds(fds);

        int timeout = -1;
        if (const std::optional<double> at = next_wakeup(now, fLineBusy))
            timeout = int(std::ceil(std::max(0.0, *at - now)));
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            break;

        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            while (::read(signal_fd_, &info, sizeof(info)) > 0)
                quit_ = true;
        }
        now = now_ms();
        const short master = fds[1].revents;
        if ((master & POLLIN) || (fLineBusy && want_to_read(now)))
            read_line();
        else if (master & (POLLHUP | POLLERR))
            backoff_until_ = now + kBackoffMs;
        if (master & POLLOUT)
            write_line(now);
        deliver(now_ms());
        control_.serve(fds.data() + 2, [this](const std::string& request) { return handle(request); });
        after_module(now_ms());
    }

    control_.flush(1000);
    write_report();
    pty_.unpublish();
    return 0;
}

// The earliest timer: the module's, the next reply byte, the pacer, the end
// of a back-off.
std::optional<double> Simulator::next_wakeup(double now, bool fLineBusy)
{
    // While bytes wait on the line the image does not end: look again soon
    // rather than at a deadline that has passed.
    std::optional<double> at = module_.next_deadline();
    if (fLineBusy && module_.state() == State::Image && at && *at <= now)
        at = now + kBusyLookMs;
    auto earliest = [&at](double t) { at = at ? std::min(*at, t) : t; };
    if (backoff_until_) {
        earliest(*backoff_until_);
        return at;
    }
    if (const std::optional<double> out_at = out_.ready_at(); out_at && *out_at > now)
        earliest(*out_at);
    if (const std::optional<double> until = module_.paused_until(now)) {
        earliest(*until);
        return at;
    }
    if (!inbox_.empty() || uart_reader()) {
        const double ready = pacer_.ready_at(now, line_.baud);
        if (ready > now || !inbox_.empty())
            earliest(ready);
    }
    return at;
}

// A UART takes a few bytes at a time as the wire brings them, so the bytes
// wait in the pty until their time: the writer on the other side is held
// back exactly as a real line holds it.  A gulp takes 4 KiB at once and hands
// them on at wire speed.  A stalled module takes nothing.
bool Simulator::want_to_read(double now)
{
    if (module_.paused_until(now))
        return false;
    if (uart_reader())
        return inbox_.empty() && pacer_.ready_at(now, line_.baud) <= now;
    return inbox_.size() + kReadBytes <= kInboxBytes;
}

// Takes what the pty holds into the inbox: as much as the wire has brought
// since the last read (a UART), or 4 KiB (a gulp).
void Simulator::read_line()
{
    // The settings are read again for every batch: the Windows program
    // changes them between the installation rate and its normal one.
    line_ = pty_.line();
    const double now = now_ms();
    size_t want = std::min(kReadBytes, kInboxBytes - inbox_.size());
    if (uart_reader())
        want = std::min(want, pacer_.allowance(now, line_.baud));
    if (const std::optional<uint64_t> before = module_.bytes_before_stall())
        want = size_t(std::min<uint64_t>(want, std::max<uint64_t>(*before, 1)));
    if (want == 0)
        return;
    char buf[kReadBytes];
    const ssize_t n = ::read(pty_.master(), buf, want);
    if (n > 0)
        inbox_.append(buf, size_t(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        backoff_until_ = now + kBackoffMs;
    // A UART read that got all it asked for leaves more on the line.
    more_waiting_ = uart_reader() && n > 0 && size_t(n) == want;
    deliver(now_ms());
}

// Hands the module what the wire would have brought by now: baud / 10
// bytes a second when paced, everything otherwise; nothing while it stalls,
// and no byte past the start of a stall.
void Simulator::deliver(double now)
{
    if (module_.paused_until(now))
        return;
    size_t n = inbox_.size();
    if (n > 0 && opt_.pace && line_.baud > 0)
        n = std::min(n, pacer_.allowance(now, line_.baud));
    if (const std::optional<uint64_t> before = module_.bytes_before_stall())
        n = size_t(std::min<uint64_t>(n, std::max<uint64_t>(*before, 1)));
    if (n == 0)
        return;
    module_.receive(std::string_view(inbox_).substr(0, n), now, line_);
    inbox_.erase(0, n);
    pacer_.consume(n, more_waiting_ || !inbox_.empty());
}

void Simulator::write_line(double now)
{
    const OutputQueue::Progress progress = out_.write(pty_.master(), now);
    for (const OutputQueue::Written& w : progress.replies)
        module_.reply_written(w.reply_id, w.first_ms, w.last_ms);
    module_.record().flood_sent += progress.flood_bytes;
    if (progress.failed)
        backoff_until_ = now + kBackoffMs;
}

void Simulator::after_module(double now)
{
    for (Outgoing& o : module_.take_output())
        out_.push_reply(o.reply_id, std::move(o.text), opt_.byte_delay_ms);
    if (module_.take_hangup())
        hang_up();
    if (module_.take_report_due())
        write_report();
    // Something to send and nothing holding it: try at once rather than
    // after the next poll.
    const std::optional<double> out_at = out_.ready_at();
    if (out_at && *out_at <= now && !backoff_until_)
        write_line(now);
}

// Closes the line under the Windows program and opens a new one at the same
// path, so that opening the port again works.  Bytes not yet sent are lost
// with the old line.
void Simulator::hang_up()
{
    const double now = now_ms();
    for (uint64_t id : out_.clear())
        module_.reply_dropped(id, now);
    inbox_.clear();
    ++module_.record().hangups;
    std::string error;
    if (!pty_.open(opt_.link, error)) {
        std::fprintf(stderr, "modsim: after hang-up: %s\n", error.c_str());
        quit_ = true;
        return;
    }
    backoff_until_.reset();
}

// The adapter pulled out of the hub: the line hangs up, the link goes, and
// the module loses its power with it.  plug puts a new adapter (a new pty)
// at the same link.
std::string Simulator::unplug()
{
    if (unplugged_)
        return "error not plugged in";
    const double now = now_ms();
    for (uint64_t id : out_.clear())
        module_.reply_dropped(id, now);
    inbox_.clear();
    module_.power_off();
    pty_.close();
    pty_.unpublish();
    unplugged_ = true;
    return "ok";
}

std::string Simulator::plug()
{
    if (!unplugged_)
        return "error already plugged in";
    std::string error;
    if (!pty_.open(opt_.link, error))
        return "error " + error;
    unplugged_ = false;
    backoff_until_.reset();
    line_ = pty_.line();
    return "ok";
}

void Simulator::write_report()
{
    if (!opt_.report_file.empty() && !write_file_atomically(opt_.report_file, report_json(module_, pty_.line(), now_ms()) + "\n"))
        std::fprintf(stderr, "modsim: cannot write %s\n", opt_.report_file.c_str());
}

std::string Simulator::handle(const std::string& request)
{
    const std::vector<std::string> words = split_words(request);
    const std::string verb = words.empty() ? "" : words[0];

    if (verb == "report" && words.size() == 1)
        return report_json(module_, pty_.line(), now_ms());
    if (verb == "clear" && words.size() == 1) {
        module_.clear();
        return "ok";
    }
    if (verb == "reset" && words.size() == 1) {
        // As at start: the options of the command line, nothing left to
        // send, the line raw 19200 8N1.
        for (uint64_t id : out_.clear())
            module_.reply_dropped(id, now_ms());
        inbox_.clear();
        pty_.discard_input();   // a fresh module: nothing of the last run still on the line, either way
        opt_.pace = start_opt_.pace;
        opt_.gulp = start_opt_.gulp;
        opt_.byte_delay_ms = start_opt_.byte_delay_ms;
        opt_.module = start_opt_.module;
        module_.set_behaviour(opt_.module);
        module_.power_off();
        if (start_opt_.powered)
            module_.power_on(now_ms());
        module_.clear();
        std::string error;
        return pty_.reset_line(error) ? "ok" : "error " + error;
    }
    if (verb == "set")
        return handle_set(words);
    // No line while the adapter is out: nothing to write to, nothing to hang
    // up (a new pty at the link would plug it back in).
    if (unplugged_ && (verb == "send" || verb == "flood" || verb == "hangup"))
        return "error not plugged in";
    if (verb == "power" && words.size() == 2 && (words[1] == "on" || words[1] == "off")) {
        if (words[1] == "on")
            module_.power_on(now_ms());
        else
            module_.power_off();
        return "ok";
    }
    if (verb == "send") {
        // Everything after "send " is the text, spaces included.
        const size_t at = request.find("send") + 4;
        std::string text, error;
        if (!decode_escapes(at < request.size() ? std::string_view(request).substr(at + 1) : "", text, error))
            return "error " + error;
        out_.push_reply(module_.note_sent(text), text, 0);
        return "ok";
    }
    if (verb == "flood" && (words.size() == 2 || words.size() == 3)) {
        char* end = nullptr;
        const unsigned long long count = std::strtoull(words[1].c_str(), &end, 10);
        if (*end != '\0' || words[1][0] == '-')
            return "error bad count";
        unsigned long long seed = 1;
        if (words.size() == 3) {
            seed = std::strtoull(words[2].c_str(), &end, 10);
            if (*end != '\0' || words[2][0] == '-' || seed > 0xFFFFFFFFull)
                return "error bad seed";
        }
        module_.record().flood_requested += count;
        module_.record().flood_seed = uint32_t(seed);
        out_.push_flood(count, uint32_t(seed));
        return "ok";
    }
    if (verb == "hangup" && words.size() == 1) {
        hang_up();
        return "ok";
    }
    if (verb == "unplug" && words.size() == 1)
        return unplug();
    if (verb == "plug" && words.size() == 1)
        return plug();
    if (verb == "quit" && words.size() == 1) {
        quit_ = true;
        return "ok";
    }
    return "error unknown request";
}

// All or nothing: the options change only when every NAME=VALUE is good.
std::string Simulator::handle_set(const std::vector<std::string>& words)
{
    if (words.size() < 2)
        return "error set needs NAME=VALUE";
    Options next = opt_;
    std::optional<bool> power;
    for (size_t i = 1; i < words.size(); ++i) {
        const size_t eq = words[i].find('=');
        if (eq == std::string::npos)
            return "error expected NAME=VALUE, got " + words[i];
        const std::string name = words[i].substr(0, eq);
        const std::string error = apply_option(next, name, words[i].substr(eq + 1), true);
        if (!error.empty())
            return "error " + error;
        if (name == "powered")
            power = next.powered;
    }
    opt_ = next;
    module_.set_behaviour(opt_.module);
    if (power && *power)
        module_.power_on(now_ms());
    else if (power)
        module_.power_off();
    return "ok";
}

} // namespace

} // namespace modsim

int main(int argc, char** argv)
{
    modsim::Options options;
    std::string error;
    if (!modsim::parse_command_line(argc, argv, options, error)) {
        if (error == "help") {
            std::fputs(modsim::usage_text(), stdout);
            return 0;
        }
        std::fprintf(stderr, "modsim: %s\n%s", error.c_str(), modsim::usage_text());
        return 2;
    }
    return modsim::Simulator(options).run();
}
