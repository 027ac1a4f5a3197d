// app/device_address.h: the reader of the device address typed on the
// address screen.
#pragma once

#include <cstdint>

// Reads dotted decimal text, where '*' may stand for any dot, into an IPv4
// address in host byte order (first part most significant). Returns
//   0 accepted: exactly four parts, each 0 to 255
//   1 a part is greater than 255
//   2 a fifth part follows four parts
//   3 no part at all, or fewer than four
//   4 shorter than 7 or longer than 15 characters
//   5 a character other than a digit, '.' or '*'
// The result location, when given, holds the address after 0 and 0 after
// anything else. Keeps no state and never writes the text; a null text
// reads as an empty one.
int parse_device_address(const char *text, uint32_t *result);
