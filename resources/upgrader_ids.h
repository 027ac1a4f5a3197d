// resources/upgrader_ids.h: constants shared between the resource file and the code.
//
// Plain #defines only: the Windows resource compiler, our own reader of the
// resource script and the C++ code all include this file. Some control ids
// are used by more than one template for different things; each role has
// its own name so the code says which box it means.
#ifndef NUV_UPGRADER_IDS_H
#define NUV_UPGRADER_IDS_H

// Dialog templates.
#define IDD_ADAPTER_ADDRESS 101     // address screen for adapters
#define IDD_CONFIRM 103             // confirm screen, target-only builds
#define IDD_PASSWORD 104            // asks for the device's user and password
#define IDD_CONNECTING 105          // progress while a device request runs
#define IDD_UPLOAD 110              // progress while the image is served
#define IDD_SUCCESS 111             // the upgrade is done
#define IDD_WAITING 114             // waiting for the device's read request
#define IDD_WARNING 139             // first screen of the wizard
#define IDD_TRANSITION_CONFIRM 304  // confirm screen, transition builds
#define IDD_PHONE_ADDRESS 305       // address screen for phones

// Icons.
#define IDI_ADAPTER 106  // shown by the adapter address screen
#define IDI_PROGRAM 286  // the program's icon; shown by the phone address screen

// Firmware images: custom resources of one named type. The resource
// script spells the type out itself, so this macro must not be called
// NUV_FIRMWARE: the preprocessor would replace the type there.
#define NUV_FIRMWARE_TYPE "NUV_FIRMWARE"
#define IDR_TARGET_FIRMWARE 112      // the image a build exists to install
#define IDR_TRANSITION_FIRMWARE 319  // served first; only in transition builds

// Controls of the address screens (101, 305).
#define IDC_DEVICE_ADDRESS 1000  // IP address control
#define IDC_UPGRADE_LINE 1007
#define IDC_INSTRUCTIONS 1008
#define IDC_VERSION_LINE 1015
#define IDC_LOCAL_ADDRESS 1017  // the PC's addresses; unsorted, index = entry of local_addresses

// Controls of the confirm screens (103, 304); 1004 also on the success screen.
#define IDC_SERIAL_NUMBER 1002
#define IDC_MAC_ADDRESS 1003
#define IDC_SOFTWARE_VERSION 1004
#define IDC_HARDWARE_VERSION 1005
#define IDC_PRODUCT_NAME 1006
#define IDC_CONFIRM_TEXT 1007

// Controls of the password screen (104).
#define IDC_USER_BOX 1003
#define IDC_PASSWORD_BOX 1005
#define IDC_PASSWORD_NOTICE 1007

// Controls of the progress screens (105, 110, 114).
#define IDC_PROGRESS_BAR 1010
#define IDC_WAITING_TEXT 1022

// Controls of the warning (139) and success (111) screens.
#define IDC_WARNING_TEXT 1021
#define IDC_SUCCESS_TEXT 1007

// Controls the code never addresses.
#define IDC_STATIC (-1)

#endif
