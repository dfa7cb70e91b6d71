#include "tools/modsim/pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

namespace modsim {

namespace {

struct Speed {
    speed_t code;
    unsigned baud;
};

constexpr Speed kSpeeds[] = {
    {B0, 0}, {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200},
    {B300, 300}, {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800},
    {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
    {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000},
    {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000},
    {B4000000, 4000000},
};

std::string errno_text(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

Line line_from_termios(const struct termios& t)
{
    Line line;
    const speed_t code = cfgetospeed(&t);
    line.baud = 0;
    for (const Speed& s : kSpeeds)
        if (s.code == code)
            line.baud = s.baud;

    switch (t.c_cflag & CSIZE) {
    case CS5: line.data_bits = 5; break;
    case CS6: line.data_bits = 6; break;
    case CS7: line.data_bits = 7; break;
    default: line.data_bits = 8; break;
    }

    // Linux's pty driver clears PARENB (and forces CS8) whenever the
    // attributes are set, but keeps PARODD, CMSPAR and the input flags.
    // Wine turns on INPCK for every parity but none, so INPCK stands in for
    // the lost PARENB.
    if (!(t.c_cflag & PARENB) && !(t.c_iflag & INPCK))
        line.parity = "none";
    else if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? "mark" : "space";
    else
        line.parity = (t.c_cflag & PARODD) ? "odd" : "even";

    line.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return line;
}

bool Pty::reset_line(std::string& error)
{
    struct termios t;
    if (tcgetattr(slave_, &t) != 0) {
        error = errno_text("tcgetattr");
        return false;
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    if (tcsetattr(slave_, TCSANOW, &t) != 0) {
        error = errno_text("tcsetattr");
        return false;
    }
    return true;
}

void Pty::discard_input()
{
    if (master_ >= 0)
        tcflush(master_, TCIOFLUSH);
}

bool Pty::open(const std::string& link, std::string& error)
{
    close();
    link_ = link;
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        error = errno_text("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || (name = ptsname(master_)) == nullptr) {
        error = errno_text("grantpt/unlockpt/ptsname");
        close();
        return false;
    }
    slave_name_ = name;
    slave_ = ::open(slave_name_.c_str(), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = errno_text(slave_name_.c_str());
        close();
        return false;
    }

    if (!reset_line(error)) {
        close();
        return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);

    // A new symlink beside the path, renamed over it: the path is never
    // missing for whoever opens it meanwhile.
    const std::string temp = link + ".modsim-new";
    ::unlink(temp.c_str());
    if (::symlink(slave_name_.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
        error = errno_text(link.c_str());
        ::unlink(temp.c_str());
        close();
        return false;
    }
    return true;
}

void Pty::close()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = -1;
    slave_ = -1;
}

void Pty::unpublish()
{
    if (link_.empty() || slave_name_.empty())
        return;
    char target[4096];
    const ssize_t n = ::readlink(link_.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, size_t(n)) == slave_name_)
        ::unlink(link_.c_str());
}

Line Pty::line() const
{
    struct termios t;
    if (master_ < 0 || tcgetattr(master_, &t) != 0)
        return Line{};
    return line_from_termios(t);
}

} // namespace modsim
