#pragma once

#include "app/CommandLine.h"
#include "app/OptionsForm.h"

#include <cstddef>
#include <string>
#include <vector>

// What applying the download options of the command line found.
struct OptionParametersResult {
    // The error text of the last bad option (each line ends in LF CR); empty when none.
    std::string errorText;
    // The index of that option's argument (for the proxy, the later of its two); 0 for none.
    std::size_t errorArgument = 0;
};

// Sets the dialog's DownloadOptions from the option parameters. A later occurrence of a
// parameter replaces an earlier one. Every value goes through the dialog itself: the record
// is loaded into the controls, the parameter's control is set, and only when the dialog's
// Validate finds nothing new does the dialog save, and only the parameter's own fields are
// kept. ProxyServer and ProxyPort are one setting: either turns the proxy check box on, and
// both are validated together. A bad value leaves its fields as they were and notes the
// dialog's messages (a switch or an error action the dialog cannot hold notes a text
// naming the values allowed).
OptionParametersResult ApplyOptionParameters(TOptionsForm &options,
                                             const std::vector<OptionParameter> &parameters);

// At start-up, right after the options dialog exists: reads the option parameters of
// `arguments` (the program's path, the URL, the parameters) and applies them. The result
// names the last bad option, if any.
OptionParametersResult ApplyCommandLineOptions(TOptionsForm &options,
                                               const std::vector<std::string> &arguments);
