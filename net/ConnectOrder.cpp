#include "net/ConnectOrder.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace net {

namespace {

// Names a process connects to are few (a URL's host, the mirrors, a proxy); the memory is
// emptied should there ever be more.
constexpr size_t kRememberedNames = 64;
std::mutex rememberedMutex;
std::map<std::string, platform::IpAddress> remembered;

} // namespace

std::vector<platform::IpAddress> AlternatingFamilies(const std::vector<platform::IpAddress> &addresses,
                                                     const platform::IpAddress &preferred) {
    using Family = platform::IpAddress::Family;
    std::vector<platform::IpAddress> first, second;
    if (addresses.empty())
        return {};
    const bool known =
        std::find(addresses.begin(), addresses.end(), preferred) != addresses.end();
    const Family leading = known ? preferred.family : addresses.front().family;
    if (known)
        first.push_back(preferred);
    for (const platform::IpAddress &a : addresses) {
        if (a.family == Family::None)
            continue;
        auto &list = a.family == leading ? first : second;
        if (std::find(list.begin(), list.end(), a) == list.end())
            list.push_back(a);
    }
    std::vector<platform::IpAddress> order;
    order.reserve(first.size() + second.size());
    for (size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size())
            order.push_back(first[i]);
        if (i < second.size())
            order.push_back(second[i]);
    }
    return order;
}

void NoteConnectedAddress(const std::string &name, const platform::IpAddress &address) {
    std::lock_guard lock(rememberedMutex);
    if (remembered.size() >= kRememberedNames && !remembered.contains(name))
        remembered.clear();
    remembered[name] = address;
}

platform::IpAddress LastConnectedAddress(const std::string &name) {
    std::lock_guard lock(rememberedMutex);
    const auto found = remembered.find(name);
    return found == remembered.end() ? platform::IpAddress{} : found->second;
}

} // namespace net
