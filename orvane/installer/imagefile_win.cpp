// The image file on Windows: opened without sharing, so no other program can
// change it while it is sent (and one that holds it open makes the open fail).
#include "orvane/installer/install.h"

void* ImageOpen(LPCSTR lpszName)
{
    HANDLE hFile = CreateFileA(lpszName, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    return hFile == INVALID_HANDLE_VALUE ? NULL : hFile;
}

DWORD ImageSize(void* hImage)
{
    return GetFileSize((HANDLE)hImage, NULL);
}

int ImageRead(void* hImage, BYTE* lpBuffer, int nMax)
{
    DWORD dwRead = 0;
    if (!ReadFile((HANDLE)hImage, lpBuffer, (DWORD)nMax, &dwRead, NULL))
        return -1;
    return (int)dwRead;
}

void ImageClose(void* hImage)
{
    CloseHandle((HANDLE)hImage);
}
