#include "net/NMExtstr.h"

#include <algorithm>

namespace net {

namespace {

char Fold(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Case-insensitive three-way comparison (ASCII folding), bytes compared as unsigned.
int CompareText(const std::string &a, const std::string &b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t k = 0; k < n; ++k) {
        auto x = static_cast<unsigned char>(Fold(a[k]));
        auto y = static_cast<unsigned char>(Fold(b[k]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The sort order of a sorted list: lines without ":" first, then by name part, then by line.
bool LineLess(const std::string &a, const std::string &b) {
    size_t ca = a.find(':'), cb = b.find(':');
    bool ha = ca != std::string::npos, hb = cb != std::string::npos;
    if (ha != hb)
        return !ha;
    if (ha) {
        int c = CompareText(a.substr(0, ca), b.substr(0, cb));
        if (c != 0)
            return c < 0;
    }
    return CompareText(a, b) < 0;
}

} // namespace

void TExStringList::CheckIndex(int i) const {
    if (i < 0 || i >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(i) + ")");
}

int TExStringList::InsertSorted(const std::string &line) {
    auto at = std::upper_bound(lines_.begin(), lines_.end(), line, LineLess);
    return static_cast<int>(lines_.insert(at, line) - lines_.begin());
}

int TExStringList::Add(const std::string &line) {
    if (sorted_)
        return InsertSorted(line);
    lines_.push_back(line);
    return Count() - 1;
}

const std::string &TExStringList::Strings(int i) const {
    CheckIndex(i);
    return lines_[static_cast<size_t>(i)];
}

std::string &TExStringList::operator[](int i) {
    CheckIndex(i);
    return lines_[static_cast<size_t>(i)];
}

void TExStringList::Strings(int i, const std::string &line) {
    CheckIndex(i);
    if (!sorted_) {
        lines_[static_cast<size_t>(i)] = line;
        return;
    }
    lines_.erase(lines_.begin() + i);
    InsertSorted(line);
}

void TExStringList::Delete(int i) {
    CheckIndex(i);
    lines_.erase(lines_.begin() + i);
}

std::string TExStringList::Text() const {
    std::string text;
    for (const auto &line : lines_)
        text.append(line).append("\r\n");
    return text;
}

void TExStringList::SetText(const std::string &text) {
    lines_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            Add(text.substr(start));
            break;
        }
        Add(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

void TExStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_)
        std::stable_sort(lines_.begin(), lines_.end(), LineLess);
    sorted_ = sorted;
}

int TExStringList::IndexOfHeader(const std::string &name) const {
    if (!sorted_) {
        for (int i = 0; i < Count(); ++i) {
            const std::string &line = lines_[static_cast<size_t>(i)];
            size_t colon = line.find(':');
            if (colon != std::string::npos && CompareText(line.substr(0, colon), name) == 0)
                return i;
        }
        return -1;
    }
    int low = 0, high = Count() - 1;
    while (low <= high) {
        int probe = low + (high - low) / 2;
        const std::string &line = lines_[static_cast<size_t>(probe)];
        size_t colon = line.find(':');
        // Lines without ":" sort before every header line, so they count as lower.
        int c = colon == std::string::npos ? -1 : CompareText(line.substr(0, colon), name);
        if (c == 0)
            return probe;
        if (c < 0)
            low = probe + 1;
        else
            high = probe - 1;
    }
    return -1;
}

void TExStringList::SetHeader(const std::string &name, const std::string &value) {
    int i = IndexOfHeader(name);
    if (value.empty()) {
        if (i != -1)
            Delete(i);
        return;
    }
    std::string line = name + ": " + value;
    if (i == -1)
        Add(line);
    else
        Strings(i, line); // keeps its place (a sorted list keeps its order)
}

} // namespace net
