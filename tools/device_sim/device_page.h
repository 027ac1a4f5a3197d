// tools/device_sim/device_page.h: the HTML pages the simulated device serves.
#pragma once

#include <string>

#include "tools/device_sim/options.h"
#include "tools/device_sim/sim_log.h"

namespace sim {

// The information page: a table in which each label is followed by the
// end of its cell, the start of the next and a bold value.
std::string info_page(const PageOptions &page);
std::string upgrade_page(const UpgradeParts &upgrade);
std::string error_page(int status, const char *reason);

// Reads "tftp://A.B.C.D:PORT/NAME" (the query of the upgrade command).
bool parse_upgrade_query(const std::string &query, UpgradeParts &upgrade);

} // namespace sim
