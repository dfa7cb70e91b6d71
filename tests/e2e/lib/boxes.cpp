// The program's message boxes: found by their text, answered with a button.
// Their caption is TextOf(hBox).
#include "driver.h"

// The message text of a message box: its static texts, joined.
std::string BoxText(HWND hBox)
{
    std::string text;
    for (HWND hChild : Children(hBox))
        if (ClassOf(hChild) == "Static") {
            std::string s = TextOf(hChild);
            if (!s.empty())
                text += (text.empty() ? "" : "|") + s;
        }
    return text;
}

HWND WaitBox(const std::string& text, DWORD dwLimit)
{
    return WaitFor([&]() -> HWND {
        for (HWND hWnd : OtherWindows())
            if (ClassOf(hWnd) == "#32770" && BoxText(hWnd) == text)
                return hWnd;
        return NULL;
    }, dwLimit);
}

HWND WaitAnyBox(HWND hExcept, DWORD dwLimit)
{
    return WaitFor([&]() -> HWND {
        for (HWND hWnd : OtherWindows())
            if (hWnd != hExcept && ClassOf(hWnd) == "#32770" && !BoxText(hWnd).empty())
                return hWnd;
        return NULL;
    }, dwLimit);
}

// Clicks the button of this text; true when the box went away.
bool Answer(HWND hBox, const std::string& button)
{
    HWND hButton = ChildOf(hBox, "Button", button);
    if (!CHECK(hButton != NULL, "the box has no %s button", button.c_str()))
        return false;
    Click(hButton);
    return CHECK(WaitGone(hBox), "%s did not close the box", button.c_str());
}
