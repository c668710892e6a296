#include "whois/whois_servers.h"

namespace tessaly {

std::span<const WhoisServerEntry> whoisServerTable() {
    return whois_server_list::entries;
}

Text whoisServerFor(std::string_view label) {
    for (const WhoisServerEntry& entry : whois_server_list::entries) {
        if (sameText(entry.key, label)) {
            return Text(entry.server);
        }
    }
    return Text();
}

}  // namespace tessaly
