#pragma once
// The private folder in which a job makes its product.
//
// A product stands under its final name only when it is complete: every
// job makes its product inside a hidden folder ".tessarine-XXXXXX" of the
// destination and renames it to its dated name at the end. The folder is
// locked (flock) by the job for as long as it runs and records the host it
// runs on, so that the next job in that destination can remove what a
// killed job left there and never touches the folder of a job that still
// runs.
#include <string>
#include <string_view>

#include "engine/unique_fd.h"

namespace tessarine {

// The name every staging folder begins with; six characters follow.
inline constexpr std::string_view kStagingPrefix = ".tessarine-";

// True when `name` is a staging folder's name (the prefix and six
// characters of mkdtemp's alphabet).
bool IsStagingName(std::string_view name);

// Stops the running job, if any, at its next entry, ends the programs it
// started and removes its staging folder. Called from a front end's signal
// watcher (any thread but the worker's); returns within about two seconds
// even when the worker does not answer, so that the caller can exit.
void AbandonRunningJob();

}  // namespace tessarine
