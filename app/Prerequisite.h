#pragma once

#include "app/DownloadRequest.h"
#include "gui/Application.h"
#include "platform/Version.h"

#include <string>

// Whether the system described by `os` meets the request's minimum: a request whose
// OSPlatformId, MinimumOSMajorVersion and MinimumOSMinorVersion are all 0 asks for nothing;
// otherwise the platform identifier must equal OSPlatformId and the version (major, then
// minor) must be at least the minimum. The request's signed numbers and the record's
// unsigned ones are compared as 64-bit signed values: a negative minimum is below every
// version and a negative OSPlatformId matches no platform.
bool PrerequisiteMet(const DownloadRequest &request, const platform::OsVersionRecord &os);

// The question put to the user when the minimum is not met by the system `os`. A description
// made of the bare numbers ("2.6.1") is followed by what they mean, beside the system's own.
std::string PrerequisiteQuestion(const DownloadRequest &request,
                                 const platform::OsVersionRecord &os);

enum class PrerequisiteOutcome {
    Met,        // the system meets the minimum: download as usual
    GoOnAnyway, // not met, the user chose to download anyway: never run the file automatically
    Declined,   // not met, the user chose not to download
};

// Checks the minimum and, when it is not met, asks the user through a Yes/No message box
// captioned "Prerequisites". Only Yes goes on; any other answer declines.
PrerequisiteOutcome CheckPrerequisite(gui::Application &app, const DownloadRequest &request,
                                      const platform::OsVersionRecord &os);
