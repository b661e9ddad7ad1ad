#include "net/ConnectOrder.h"

#include <algorithm>

namespace net {

std::vector<platform::IpAddress> AlternatingFamilies(const std::vector<platform::IpAddress> &addresses) {
    using Family = platform::IpAddress::Family;
    std::vector<platform::IpAddress> first, second;
    if (addresses.empty())
        return {};
    const Family leading = addresses.front().family;
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

} // namespace net
