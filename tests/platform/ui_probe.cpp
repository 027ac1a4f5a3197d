// tests/platform/ui_probe.cpp: a small program over the native layer that
// the script front end's tests drive; its command line picks what it shows.
//
//   msgbox    a task-modal OK/Cancel box; exits with the button pressed
//   form      the form dialog (modal); OK reports what was entered in a box
//             and exits with 10 + the chosen entry; Cancel exits with 1
//   modeless  the progress dialog, pumped without the dialog manager;
//             Cancel exits with 3
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#include "ui_test_ids.h"

namespace {

INT_PTR CALLBACK form_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowTextA(dialog, "Probe Form");
        SetDlgItemTextA(dialog, IDC_NOTE, "Line one\r\nLine two");
        SendDlgItemMessageA(dialog, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("red"));
        SendDlgItemMessageA(dialog, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("green"));
        SendDlgItemMessageA(dialog, IDC_CHOICE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("blue"));
        SendDlgItemMessageA(dialog, IDC_CHOICE, CB_SETCURSEL, 1, 0);
        SendDlgItemMessageA(dialog, IDC_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 50));
        SendDlgItemMessageA(dialog, IDC_BAR, PBM_SETPOS, 20, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDC_APPLY) {
            char name[64], secret[64], address[64], report[256];
            GetDlgItemTextA(dialog, IDC_NAME, name, sizeof name);
            GetDlgItemTextA(dialog, IDC_SECRET, secret, sizeof secret);
            GetDlgItemTextA(dialog, IDC_ADDRESS, address, sizeof address);
            int choice = static_cast<int>(SendDlgItemMessageA(dialog, IDC_CHOICE, CB_GETCURSEL, 0, 0));
            std::snprintf(report, sizeof report, "%s name=%s secret=%s address=%s choice=%d",
                          LOWORD(wparam) == IDOK ? "ok" : "apply", name, secret, address, choice);
            MessageBoxA(dialog, report, "Report", MB_OK);
            if (LOWORD(wparam) == IDOK)
                EndDialog(dialog, 10 + choice);
            return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 1);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK progress_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;  // focus on the first tab stop, Cancel
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        DestroyWindow(dialog);
        ExitProcess(3);
    }
    return FALSE;
}

int run_modeless(HINSTANCE instance)
{
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, progress_proc, 0);
    ShowWindow(dialog, SW_SHOWNORMAL);
    SendDlgItemMessageA(dialog, IDC_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    for (int i = 0; i < 20000; i++) {  // at most about 20 s
        MSG m;
        if (PeekMessageA(&m, dialog, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(1);
        SendDlgItemMessageA(dialog, IDC_BAR, PBM_SETPOS, static_cast<WPARAM>(i / 10 % 101), 0);
    }
    return 4;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    if (std::strcmp(command_line, "msgbox") == 0)
        return MessageBoxA(nullptr, "Line one\r\nLine \"two\"\ttab", "Probe Caption",
                           MB_OKCANCEL | MB_TASKMODAL);
    if (std::strcmp(command_line, "form") == 0)
        return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_FORM), nullptr, form_proc, 0));
    if (std::strcmp(command_line, "modeless") == 0)
        return run_modeless(instance);
    std::fprintf(stderr, "ui_probe: unknown mode '%s'\n", command_line);
    return 100;
}
