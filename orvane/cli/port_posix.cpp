// The port on Linux: a terminal device, raw 8N1 at the record's rates, and a
// reader thread in the part of orvane.exe's watcher.  The installer core
// finds the record through GetTTYInfo(hTTYWnd), answered here; the handles
// are opaque values.
#include "orvane/cli/port.h"
#include "orvane/installer/checkdata.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

HWND const kPortWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x0c11));
HWND const kDialog = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x0d1a));

TTYINFO gRecord;
std::string gPath;
int gFd = -1;
std::thread gReader;
std::atomic<bool> gGone{false};
std::mutex gReading;   // a read and its hand-over, against PortResetReceive

// A hung-up line reads as its end (0) or fails with EIO; an unplugged
// adapter's device fails with EIO, ENXIO or ENODEV.
void NoteWriteError(int error)
{
    if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF)
        gGone = true;
}
void (*gpfnTap)(const BYTE*, int) = nullptr;

bool SpeedOf(DWORD dwRate, speed_t* pSpeed)
{
    switch (dwRate) {
    case 19200: *pSpeed = B19200; return true;
    case 57600: *pSpeed = B57600; return true;
    case 115200: *pSpeed = B115200; return true;
    }
    return false;
}

// What the watcher does: read what arrives, hand it on; nothing is purged.
// A line that goes away (hang-up, error, end of input) ends the reading: the
// unit notices within a tick, and nothing spins.
void ReadPort()
{
    BYTE abBlock[4096];
    while (IsConnected(&gRecord)) {
        pollfd p{gFd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (ready > 0 && (p.revents & (POLLERR | POLLNVAL)))) {
            gGone = true;
            return;
        }
        if (ready == 0)
            continue;
        std::lock_guard<std::mutex> hold(gReading);
        BeginReceive();
        const ssize_t n = read(gFd, abBlock, sizeof(abBlock));
        if (n > 0) {
            if (gpfnTap)
                gpfnTap(abBlock, (int)n);
            AppendReceived(abBlock, (int)n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            gGone = true;
            return;
        }
    }
}

} // namespace

NPTTYINFO GetTTYInfo(HWND hWnd)
{
    return hWnd == kPortWindow ? &gRecord : NULL;
}

BOOL OpenConnection(HWND hWnd, int nMode)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || gFd >= 0)
        return FALSE;
    // Without O_NONBLOCK the open of a modem line waits for its carrier.
    gFd = open(gPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (gFd < 0)
        return FALSE;
    termios tio;
    if (!isatty(gFd) || flock(gFd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(gFd, &tio) != 0) {
        const int saved = errno;
        close(gFd);
        gFd = -1;
        errno = saved;
        return FALSE;
    }
    ioctl(gFd, TIOCEXCL);
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(gFd, TCSANOW, &tio);
    // Reads and writes both wait in poll; writes for as long as the port's
    // write time-out allows.
    tcflush(gFd, TCIOFLUSH);   // as the port link's open purges the driver
    if (!SetupConnection(hWnd, nMode)) {
        close(gFd);
        gFd = -1;
        errno = EINVAL;
        return FALSE;
    }
    npTTYInfo->idComDev = reinterpret_cast<HANDLE>(static_cast<intptr_t>(gFd + 1));
    gGone = false;
    SetConnected(npTTYInfo, TRUE);
    gReader = std::thread(ReadPort);
    return TRUE;
}

BOOL SetupConnection(HWND hWnd, int nMode)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    speed_t speed;
    termios tio;
    if (npTTYInfo == NULL || gFd < 0 || !SpeedOf(nMode ? npTTYInfo->dwBaudRate : npTTYInfo->dwBaudRateDown, &speed))
        return FALSE;
    if (tcgetattr(gFd, &tio) != 0) {
        NoteWriteError(errno);   // a line that hung up before the reader noticed
        return FALSE;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    // What was written at the old rate goes out at it (the reset "r\r").
    if (tcsetattr(gFd, TCSADRAIN, &tio) == 0)
        return TRUE;
    NoteWriteError(errno);   // a line that hung up before the reader noticed
    return FALSE;
}

BOOL ClearCommOutput(HWND hWnd)
{
    return GetTTYInfo(hWnd) != NULL && gFd >= 0 && tcflush(gFd, TCOFLUSH) == 0;
}

BOOL ClearCommInput(HWND hWnd)
{
    return GetTTYInfo(hWnd) != NULL && gFd >= 0 && tcflush(gFd, TCIFLUSH) == 0;
}

BOOL CloseConnection(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    SetConnected(npTTYInfo, FALSE);
    if (gReader.joinable())
        gReader.join();
    if (gFd >= 0) {
        tcflush(gFd, TCIOFLUSH);
        close(gFd);
    }
    gFd = -1;
    npTTYInfo->idComDev = INVALID_HANDLE_VALUE;
    return TRUE;
}

// As the port link on Windows: one write of the block that ends when the
// port has taken it or its write time-out (1 ms a byte and 1 ms) has passed.
BOOL WriteCommBytes(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite, LPDWORD lpdwTaken)
{
    *lpdwTaken = 0;
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !IsConnected(npTTYInfo) || gFd < 0)
        return FALSE;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(dwBytesToWrite + 1);
    while (*lpdwTaken < dwBytesToWrite) {
        const ssize_t n = write(gFd, lpByte + *lpdwTaken, dwBytesToWrite - *lpdwTaken);
        if (n > 0) {
            *lpdwTaken += DWORD(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            NoteWriteError(n < 0 ? errno : EIO);
            return FALSE;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{gFd, POLLOUT, 0};
        if (poll(&p, 1, int(left)) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            gGone = true;   // a hung-up line
            return FALSE;
        }
    }
    return TRUE;
}

BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    DWORD dwTaken;
    return WriteCommBytes(hWnd, lpByte, dwBytesToWrite, &dwTaken) || dwTaken > 0;
}

HWND PortAttach(const std::string& name, DWORD dwNormalRate, DWORD dwInstallRate)
{
    std::memset(&gRecord, 0, sizeof(gRecord));
    gRecord.idComDev = NULL;
    gRecord.bByteSize = 8;
    gRecord.dwBaudRate = dwNormalRate;
    gRecord.dwBaudRateDown = dwInstallRate;
    gPath = name;
    hTTYWnd = kPortWindow;
    return kDialog;
}

bool PortOpen(std::string* error)
{
    errno = 0;
    if (OpenConnection(hTTYWnd, 1))
        return true;
    if (errno == EWOULDBLOCK)
        *error = "cannot open " + gPath + ": another program is using it";
    else if (errno == ENOTTY)
        *error = "cannot open " + gPath + ": not a serial port";
    else
        *error = "cannot open " + gPath + ": " + std::strerror(errno ? errno : EIO);
    return false;
}

void PortClose()
{
    CloseConnection(hTTYWnd);
}

void PortDetach()
{
    hTTYWnd = NULL;
}

bool PortGone()
{
    return gGone;
}

void PortSetTap(void (*pfnTap)(const BYTE*, int))
{
    gpfnTap = pfnTap;
}

void PortResetReceive()
{
    std::lock_guard<std::mutex> hold(gReading);
    ResetReceiveState();
}

BOOL DrainCommOutput(HWND hWnd)
{
    return GetTTYInfo(hWnd) != NULL && gFd >= 0 && tcdrain(gFd) == 0;
}

void PortWait(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
