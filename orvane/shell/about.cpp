// The About box: the title and version line, the maker's notice and the
// icon, all from the template.  Only OK (or Enter, which presses it) ends it;
// Esc and the close box leave it open.
#include "orvane/shell/shell.h"

// A 64 x 64 picture drawn at (10, 10) when the module carries one.
#define IDB_ABOUTPICTURE 500

namespace {

void PaintAboutPicture(HWND hDlg)
{
    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(hDlg, &ps);

    // The resources have no such bitmap.  Copying from a memory context
    // without one would blit its stock 1 x 1 bitmap, a dark square over the
    // icon and the title, so nothing is drawn unless the bitmap loads.
    HINSTANCE hInstance = (HINSTANCE)GetWindowLongPtrA(hDlg, GWLP_HINSTANCE);
    HBITMAP hBitmap = LoadBitmapA(hInstance, MAKEINTRESOURCEA(IDB_ABOUTPICTURE));
    if (hBitmap != NULL) {
        HDC hMemDC = CreateCompatibleDC(hDC);
        HGDIOBJ hOld = SelectObject(hMemDC, hBitmap);
        BitBlt(hDC, 10, 10, 64, 64, hMemDC, 0, 0, SRCCOPY);
        SelectObject(hMemDC, hOld);
        DeleteObject(hBitmap);
        DeleteDC(hMemDC);
    }

    EndPaint(hDlg, &ps);
}

} // namespace

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg) {
    case WM_INITDIALOG:
        return TRUE;

    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(hDlg, TRUE);
            return TRUE;
        }
        return FALSE;

    case WM_PAINT:
        PaintAboutPicture(hDlg);
        return FALSE;
    }
    return FALSE;
}
