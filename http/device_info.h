// http/device_info.h: the five texts read from the device information page.
#pragma once

// Each holds at most 127 characters; a label missing from a reply leaves
// its text as it was.
struct DeviceInfo {
    char product_name[128];      // after "Product Name:"
    char mac_address[128];       // after "MAC Address:"
    char software_version[128];  // after "Software Version:"
    char hardware_version[128];  // after "Hardware Version:"
    char serial_number[128];     // after "Serial Number:"
};
