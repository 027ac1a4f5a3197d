// tftp/completion.h: the flash wait after a transfer, the re-query of the
// device, the version check and the success screen.
#pragma once

#include "platform/win32.h"
#include "tftp/session.h"

void complete_upgrade(TftpSession *session, UploadOutcome outcome);

INT_PTR CALLBACK success_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
