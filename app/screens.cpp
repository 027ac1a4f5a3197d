// app/screens.cpp: the warning, address and confirm screens of the wizard.
#include "app/screens.h"

#include <cstdio>

#include "app/device_address.h"
#include "app/random.h"
#include "app/upgrade_context.h"
#include "upgrader_ids.h"

namespace {

// ---- texts the screens show (CR LF line breaks; the boxes do not wrap) ----

constexpr const char kWarningText[] =
    "WARNING: Forcing a firmware upgrade on your NUV\r\n"
    "without prior approval from your service provider or\r\n"
    "network administrator may cause interruption to your\r\n"
    "service.  If your NUV is managed by a service\r\n"
    "provider who retains administrative control of the\r\n"
    "device, please contact the service provider for\r\n"
    "authorization before proceeding.  In such cases, the\r\n"
    "most current, approved for service firmware is\r\n"
    "automatically provided by your service provider without\r\n"
    "any onus on the end user to upgrade manually.";

constexpr const char kUpgradeLine[] = "This program will upgrade your NUV\r\nfirmware to:";

constexpr const char kPhoneInstructions[] =
    "To proceed, please provide the IP address\r\n"
    "of your NUV. To find out the IP address of\r\n"
    "your NUV, press the I button on the phone,\r\n"
    "select \"Network\" option, and check the\r\n"
    "value of \"Current IP\". For example, 10.1.0.13\r\n"
    "\r\n"
    "Please enter IP address of your NUV:";

constexpr const char kAdapterInstructions[] =
    "To proceed, please provide the IP address\r\n"
    "of your NUV. To find out the IP address\r\n"
    "of your NUV, using a telephone handset,\r\n"
    "enter * * * *, option 110#, and write down\r\n"
    "the value. For example, 10.1.0.123\r\n"
    "\r\n"
    "Please enter IP address of your NUV:";

constexpr const char kConfirmText[] =
    "The following information was extracted\r\n"
    "from your NUV. Please click \"Upgrade\"\r\n"
    "if you would like to proceed. If you would\r\n"
    "like to quit click \"Cancel\".";

// Filled with the confirm text and the transition image's version.
constexpr const char kConfirmNoteFormat[] =
    "%s\r\n\r\nNote: Since your current firmware version\r\n"
    "is older than %s, this upgrade procedure\r\n"
    "requires additional steps and will be\r\n"
    "slightly longer.\r\n";

constexpr const char kWizardCaptionFormat[] = "%s Firmware Upgrade";
constexpr const char kVersionLineFormat[] = "Version %s";
constexpr const char kConfirmCaptionFormat[] = "Confirm Upgrade to Ver. %s";
constexpr const char kAddressFormat[] = "%u.%u.%u.%u";
constexpr const char kFileNameFormat[] = "/nuv%x.bi%d";

constexpr const char kInvalidAddressText[] = "Invalid IP Address";
constexpr const char kNoLocalAddressText[] =
    "No network address of this PC was found. Connect this PC to the NUV's "
    "network and start the upgrade again.";
constexpr const char kErrorCaption[] = "Error";

// ---- working storage sizes ----

constexpr int kWarningCaptionSize = 80;
constexpr int kAddressWorkSize = 128;
constexpr int kConfirmWorkSize = 400;
// device_address_text holds 64 bytes; the control is read with a limit of
// 63, which keeps at most 62 characters.
constexpr int kDeviceAddressLimit = 63;
constexpr int kLocalAddressCount = static_cast<int>(sizeof upgrade.local_addresses /
                                                    sizeof upgrade.local_addresses[0]);
static_assert(sizeof upgrade.device_address_text >= kDeviceAddressLimit);

// The caption of the warning and address screens. snprintf cuts a model
// name that would not fit rather than overrun the buffer.
void set_wizard_caption(HWND dialog, char *work, size_t size)
{
    if (snprintf(work, size, kWizardCaptionFormat, upgrade.model_name) < 0)
        work[0] = '\0';
    SetWindowTextA(dialog, work);
}

// ---- address screen ----

void fill_local_address_list(HWND dialog, char *work, size_t size)
{
    for (int i = 0; i < kLocalAddressCount && upgrade.local_addresses[i] != 0; ++i) {
        uint32_t a = upgrade.local_addresses[i];
        if (snprintf(work, size, kAddressFormat, (a >> 24) & 0xff, (a >> 16) & 0xff,
                     (a >> 8) & 0xff, a & 0xff) < 0)
            continue;
        SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESS, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(work));
    }
    SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESS, CB_SETCURSEL, 0, 0);
}

// The PC address picked in list 1017, or 0 when there is none to take:
// start-up found no address (the list is empty and has no selection), or
// the selection does not name a listed entry.
uint32_t selected_local_address(HWND dialog)
{
    LRESULT index = SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESS, CB_GETCURSEL, 0, 0);
    if (index < 0 || index >= kLocalAddressCount)
        return 0;
    return upgrade.local_addresses[index];
}

void refuse_entry(HWND dialog, const char *text)
{
    MessageBoxA(dialog, text, kErrorCaption, MB_OK);
    SetFocus(GetDlgItem(dialog, IDC_DEVICE_ADDRESS));
}

void accept_address_screen(HWND dialog)
{
    // The PC address is looked at before the typed one: without it no
    // device address can lead anywhere (it is the bind address of every
    // connection and the address the device fetches from), so the person
    // is told of the real obstacle at once instead of being sent to
    // correct a device address first. Nothing is taken or drawn.
    uint32_t local = selected_local_address(dialog);
    if (local == 0) {
        refuse_entry(dialog, kNoLocalAddressText);
        return;
    }

    GetDlgItemTextA(dialog, IDC_DEVICE_ADDRESS, upgrade.device_address_text, kDeviceAddressLimit);
    parse_device_address(upgrade.device_address_text, &upgrade.device_address);
    if (upgrade.device_address == 0) {
        refuse_entry(dialog, kInvalidAddressText);
        return;
    }

    draw_tftp_file_name(upgrade.target_mode.load());
    upgrade.local_address = local;
    trace("+++ using %x\n", upgrade.local_address);
    EndDialog(dialog, 1);
}

} // namespace

void draw_tftp_file_name(int suffix)
{
    // The generator gives 0 to 32767, so the mask changes nothing; it keeps
    // the name at four hexadecimal digits whatever the generator does.
    unsigned number = static_cast<unsigned>(next_random()) & 0xffffu;
    FileNameLock lock;
    if (snprintf(upgrade.tftp_file_name, sizeof upgrade.tftp_file_name, kFileNameFormat, number,
                 suffix) < 0)
        upgrade.tftp_file_name[0] = '\0';
}

INT_PTR CALLBACK warning_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        char caption[kWarningCaptionSize];
        set_wizard_caption(dialog, caption, sizeof caption);
        SetDlgItemTextA(dialog, IDC_WARNING_TEXT, kWarningText);
        SetFocus(GetDlgItem(dialog, IDCANCEL));
        center_window(dialog);
        return FALSE;  // the focus stays on Cancel, the default button
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK address_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        // One working text serves each line in turn: the list entries, the
        // caption, then the version line.
        char work[kAddressWorkSize];
        fill_local_address_list(dialog, work, sizeof work);
        set_wizard_caption(dialog, work, sizeof work);
        SetDlgItemTextA(dialog, IDC_UPGRADE_LINE, kUpgradeLine);
        SetDlgItemTextA(dialog, IDC_INSTRUCTIONS,
                        upgrade.is_phone == 1 ? kPhoneInstructions : kAdapterInstructions);
        if (snprintf(work, sizeof work, kVersionLineFormat, upgrade.target_image.header.version) < 0)
            work[0] = '\0';
        SetDlgItemTextA(dialog, IDC_VERSION_LINE, work);
        SetFocus(GetDlgItem(dialog, IDC_DEVICE_ADDRESS));
        center_window(dialog);
        return FALSE;  // the focus stays on the address control
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            accept_address_screen(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK confirm_screen_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        // The caption first, then (transition builds) the note, in one
        // working text.
        char work[kConfirmWorkSize];
        if (snprintf(work, sizeof work, kConfirmCaptionFormat, upgrade.target_image.header.version) < 0)
            work[0] = '\0';
        SetWindowTextA(dialog, work);
        if (upgrade.target_mode.load() != 0) {
            SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, kConfirmText);
        } else {
            if (snprintf(work, sizeof work, kConfirmNoteFormat, kConfirmText,
                         upgrade.transition_image.header.version) < 0)
                work[0] = '\0';
            SetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, work);
        }
        SetDlgItemTextA(dialog, IDC_SERIAL_NUMBER, upgrade.device_info.serial_number);
        SetDlgItemTextA(dialog, IDC_MAC_ADDRESS, upgrade.device_info.mac_address);
        SetDlgItemTextA(dialog, IDC_SOFTWARE_VERSION, upgrade.device_info.software_version);
        SetDlgItemTextA(dialog, IDC_HARDWARE_VERSION, upgrade.device_info.hardware_version);
        SetDlgItemTextA(dialog, IDC_PRODUCT_NAME, upgrade.device_info.product_name);
        center_window(dialog);
        return TRUE;  // the focus goes to the first tab stop, Upgrade
    }
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
