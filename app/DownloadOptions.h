#pragma once

#include <cstdint>
#include <string>

// What happens when the attempts are used up; the values are the item indexes of the
// options dialog's combo box.
enum class TErrorAction : int32_t { Pause = 0, Prompt = 1, Close = 2 };

// The user's choices for one run. Nothing is stored between runs.
struct DownloadOptions {
    bool OverrideFile = true;
    bool CompletionClose = true;
    bool CompletionOpenFolder = false;
    bool CompletionLaunchApplication = true;
    bool DeleteAfterDownloading = false;
    // Ends in the path separator after a successful OK.
    std::string OutputDirectory;
    // -1 means unlimited.
    int32_t MaximumNumberOfAttempts = 100;
    TErrorAction ErrorAction = TErrorAction::Prompt;
    bool UseProxyServer = false;
    std::string ProxyServerName;
    // 0 or less shows as an empty field.
    int32_t ProxyPort = -1;
    // Without a proxy of the options, the system's proxy settings are followed (the
    // SystemProxy parameter turns that off; the dialog does not show it).
    bool UseSystemProxy = true;
    // The proxy check box may be changed (only before the workers have started).
    bool ProxyEditable = true;
    // The download has finished: the choices are shown disabled or read-only.
    bool Locked = false;

    bool operator==(const DownloadOptions &) const = default;
};
