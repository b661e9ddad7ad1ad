#pragma once

#include "platform/Object.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace net {

// An index outside the list; the message is "List index out of bounds (i)".
class EStringListError : public std::out_of_range {
  public:
    using std::out_of_range::out_of_range;
};

// Ordered text lines with optional sorting, plus lookup and replacement of header lines by
// name. A header line is name, ":", one space, value; the name part of a line is the text
// before its first ":". Names compare case-insensitively with ASCII case folding: header
// names are ASCII tokens, so folding other bytes would only make matches depend on a locale.
class TExStringList : public platform::TObject {
  public:
    void Clear() { lines_.clear(); }
    // Appends the line (on a sorted list: inserts it at its place); returns its index.
    int Add(const std::string &line);
    int Count() const { return static_cast<int>(lines_.size()); }
    // Line i; throws EStringListError when i is out of range.
    const std::string &Strings(int i) const;
    // Replaces line i (a sorted list moves it to its place); throws EStringListError.
    void Strings(int i, const std::string &line);
    const std::string &operator[](int i) const { return Strings(i); }
    // A write through this reference does not re-sort a sorted list; use Strings(i, line).
    std::string &operator[](int i);
    // Removes line i; throws EStringListError when i is out of range.
    void Delete(int i);

    // Every line followed by CR LF ("" for an empty list).
    std::string Text() const;
    // Replaces all lines by those of text, split at CR LF, lone LF or lone CR; a final line
    // terminator does not make an extra empty line.
    void SetText(const std::string &text);

    bool Sorted() const { return sorted_; }
    // Turning sorting on sorts the lines. Lines are ordered by name part (lines with no ":"
    // first), then by the whole line, so that the bisection of IndexOfHeader finds them.
    void SetSorted(bool sorted);

    // The 0-based index of the first line whose name part equals name, or -1. A line with no
    // ":" never matches. A sorted list is searched by bisection.
    int IndexOfHeader(const std::string &name) const;
    // A non-empty value replaces the line of that name in place or appends "name: value"; an
    // empty value deletes the line of that name if there is one. Raises nothing.
    void SetHeader(const std::string &name, const std::string &value);

  private:
    void CheckIndex(int i) const;
    int InsertSorted(const std::string &line);

    std::vector<std::string> lines_;
    bool sorted_ = false;
};

} // namespace net
