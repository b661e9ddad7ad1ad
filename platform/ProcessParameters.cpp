#include "platform/Process.h"

namespace platform {

std::vector<std::string> SplitParameters(const std::string &parameters) {
    std::vector<std::string> arguments;
    std::string current;
    bool started = false; // "" is an empty argument of its own
    bool quoted = false;
    for (char c : parameters) {
        if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (started)
                arguments.push_back(current);
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started)
        arguments.push_back(current);
    return arguments;
}

} // namespace platform
