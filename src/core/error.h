// The error types every module throws.
//
// Every failure is an Error carrying a domain, an integer code and a
// user-facing message. The application's own errors use the domain "Kavlo"
// with a code from error_codes.h; failures inside FFmpeg use "FFmpeg" with
// the AVERROR value as the code; a run of the external ffmpeg converter that
// fails uses "Converter" (codes in error_codes.h); the HTTP client uses
// "QtNetwork". Cancellation is not a failure and has its own type, so
// callers can end a superseded task silently.
//
// No dependencies beyond the standard library, so that every module, Qt or
// not, can use it.
#pragma once

#include <new>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>

namespace kavlo {

inline constexpr std::string_view kKavloDomain = "Kavlo";
inline constexpr std::string_view kMediaDomain = "FFmpeg";
inline constexpr std::string_view kNetworkDomain = "QtNetwork";
inline constexpr std::string_view kConverterDomain = "Converter";

class Error : public std::runtime_error {
  public:
    Error(std::string_view domain, int code, std::string message)
        : std::runtime_error(std::move(message)), domain_(domain), code_(code) {}

    const std::string& domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }
    std::string message() const { return what(); }

  private:
    std::string domain_;
    int code_;
};

// An error of the application's own domain.
inline Error kavloError(int code, std::string message = {}) {
    return Error(kKavloDomain, code, std::move(message));
}

// Thrown when the task's stop token was triggered. Not derived from Error.
class Cancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "cancelled"; }
};

inline void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested())
        throw Cancelled();
}

// Runs `work` as the outermost frame of a thread, or of a call an event
// loop makes: whatever std::exception it throws (an Error, std::bad_alloc)
// goes to `onFailure` instead of ending the process. A failure of
// `onFailure` itself is dropped.
template <typename Work, typename OnFailure>
void runGuarded(Work&& work, OnFailure&& onFailure) noexcept {
    try {
        work();
    } catch (const std::exception& failure) {
        try {
            onFailure(failure);
        } catch (const std::exception&) {
        }
    }
}

// The message to show for whatever ended a piece of work: an Error's own
// message, running out of memory in words, otherwise the exception's text.
// For the outermost catch of a thread, where anything may arrive.
inline std::string describeFailure(const std::exception& failure) {
    if (const auto* error = dynamic_cast<const Error*>(&failure))
        return error->message();
    if (dynamic_cast<const std::bad_alloc*>(&failure))
        return "Not enough memory.";
    return failure.what();
}

} // namespace kavlo
