// app/entry.cpp: the program's entry point.
#include "app/sequence.h"
#include "app/startup.h"
#include "app/upgrade_context.h"
#include "platform/win32.h"

namespace {

// No window of the class is ever made; registering it is the program's
// first step, and a failure ends the program quietly.
LRESULT CALLBACK class_window_proc(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

bool register_window_class(HINSTANCE instance)
{
    WNDCLASSA window_class;
    window_class.style = 0;
    window_class.lpfnWndProc = class_window_proc;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = instance;
    window_class.hIcon = nullptr;
    window_class.hCursor = nullptr;
    window_class.hbrBackground = nullptr;
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = "NuvUpgrade";
    return RegisterClassA(&window_class) != 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (!register_window_class(instance))
        return 0;
    upgrade.instance = instance;
    init_program();
    return run_upgrade_sequence(instance);
}
