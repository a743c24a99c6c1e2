// How much the FFmpeg libraries write of their own to stderr.
#pragma once

namespace kavlo {

// Errors only: not the warnings that every damaged or unusual file gives.
// Call once, before any other thread uses the libraries.
void limitLibraryLogToErrors();

} // namespace kavlo
