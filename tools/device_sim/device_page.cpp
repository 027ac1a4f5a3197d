// tools/device_sim/device_page.cpp: the HTML pages the simulated device serves, and its upgrade command.
#include "tools/device_sim/device_page.h"

#include <cstdint>

namespace sim {

namespace {

std::string page_head(const char *title) {
    return std::string("<!DOCTYPE html>\n<html><head><title>") + title +
           "</title></head>\n<body>\n<h1>" + title + "</h1>\n";
}

const char kPageTail[] = "</body></html>\n";

} // namespace

std::string info_page(const PageOptions &page) {
    std::string html = page_head("Advanced Settings");
    html += "<table border=\"1\" cellpadding=\"2\">\n";
    for (int i = 0; i < kLabelCount; ++i) {
        if (page.omitted[i]) continue;
        html += std::string("<tr><td>") + kLabelTexts[i] + "</td><td><b>" + page.values[i] +
                "</b></td></tr>\n";
    }
    html += "</table>\n";
    return html + kPageTail;
}

std::string upgrade_page(const UpgradeParts &upgrade) {
    std::string html = page_head("Firmware Upgrade");
    html += "<p>Fetching " + upgrade.name + " from " + upgrade.address + " port " +
            std::to_string(upgrade.port) + ".</p>\n";
    return html + kPageTail;
}

std::string error_page(int status, const char *reason) {
    std::string title = std::to_string(status) + " " + reason;
    return page_head(title.c_str()) + kPageTail;
}

bool parse_upgrade_query(const std::string &query, UpgradeParts &upgrade) {
    static const std::string kScheme = "tftp://";
    upgrade.present = true;
    upgrade.valid = false;
    if (query.compare(0, kScheme.size(), kScheme) != 0) return false;
    size_t colon = query.find(':', kScheme.size());
    if (colon == std::string::npos) return false;
    size_t slash = query.find('/', colon);
    if (slash == std::string::npos || slash == colon + 1 || slash + 1 >= query.size()) return false;
    std::string address = query.substr(kScheme.size(), colon - kScheme.size());
    uint32_t unused = 0;
    if (!parse_ipv4(address, unused)) return false;
    long port = 0;
    for (size_t i = colon + 1; i < slash; ++i) {
        if (query[i] < '0' || query[i] > '9' || i - colon > 5) return false;
        port = port * 10 + (query[i] - '0');
    }
    if (port < 1 || port > 65535) return false;
    upgrade.valid = true;
    upgrade.address = address;
    upgrade.port = port;
    upgrade.name = query.substr(slash);  // the leading "/" belongs to the name
    return true;
}

} // namespace sim
