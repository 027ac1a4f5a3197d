// app/common.cpp: the failure box, window centring and the trace hook.
#include <cstdarg>
#include <cstdio>

#include "app/upgrade_context.h"

int show_failure(const char *text, const char *caption)
{
    if (caption == nullptr)
        caption = "NUV Firwmare Upgrade Error";
    return MessageBoxA(nullptr, text, caption, MB_OK | MB_TASKMODAL);
}

void center_window(HWND window)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return;
    int32_t screen_width = GetSystemMetrics(SM_CXSCREEN);
    int32_t screen_height = GetSystemMetrics(SM_CYSCREEN);
    // An arithmetic shift rounds toward negative infinity: a window one
    // pixel wider than the screen goes to x = -1, not 0.
    int32_t x = (screen_width + rect.left - rect.right) >> 1;
    int32_t y = (screen_height + rect.top - rect.bottom) >> 1;
    SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

void trace(const char *format, ...)
{
#if NUV_TRACE
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
#else
    (void)format;
#endif
}
