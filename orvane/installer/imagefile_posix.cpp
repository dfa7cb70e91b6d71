// The image file on POSIX systems (the native builds).
#include "orvane/installer/install.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void* ImageOpen(LPCSTR lpszName)
{
    const int fd = open(lpszName, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return NULL;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NULL;
    }
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);   // never NULL
}

static int FdOf(void* hImage)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(hImage) - 1);
}

DWORD ImageSize(void* hImage)
{
    struct stat st;
    return fstat(FdOf(hImage), &st) == 0 ? (DWORD)st.st_size : 0;
}

int ImageRead(void* hImage, BYTE* lpBuffer, int nMax)
{
    ssize_t n;
    do
        n = read(FdOf(hImage), lpBuffer, (size_t)nMax);
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : (int)n;
}

void ImageClose(void* hImage)
{
    close(FdOf(hImage));
}
