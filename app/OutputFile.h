#pragma once

#include <functional>
#include <string>

// The output file's name in `directory` (ending in a separator): fileName itself, or, when
// overwriting is off and a file of that name exists, base + "_" + n + extension with the
// first n (1, 2, ...) that is free.
std::string OutputFilePath(const std::string &directory, const std::string &fileName,
                           bool overrideFile,
                           const std::function<bool(const std::string &)> &exists);
