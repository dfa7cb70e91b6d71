#include "orvane/terminal/screen.h"

BOOL ResetTTYScreen(HWND hWnd, NPTTYINFO npTTYInfo)
{
    if (npTTYInfo == NULL)
        return FALSE;

    if (npTTYInfo->hTTYFont)
        DeleteObject(npTTYInfo->hTTYFont);
    npTTYInfo->hTTYFont = CreateFontIndirectA(&npTTYInfo->lfTTYFont);

    HDC hDC = GetDC(hWnd);
    HGDIOBJ hOldFont = SelectObject(hDC, npTTYInfo->hTTYFont);
    TEXTMETRICA tm;
    GetTextMetricsA(hDC, &tm);
    SelectObject(hDC, hOldFont);
    ReleaseDC(hWnd, hDC);

    npTTYInfo->xChar = tm.tmAveCharWidth;
    npTTYInfo->yChar = tm.tmHeight + tm.tmExternalLeading;

    // Lay the window out again with its outer size; the system's own WM_SIZE
    // follows with the client size.
    RECT rc;
    GetWindowRect(hWnd, &rc);
    const WORD width = (WORD)(rc.right - rc.left);
    const WORD height = (WORD)(rc.bottom - rc.top);
    SendMessageA(hWnd, WM_SIZE, 0, MAKELPARAM(width, height));
    return TRUE;
}
