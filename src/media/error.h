// Errors raised by Kavlo's media layer, renderer and session.
//
// Every failure is an Error carrying a domain, an integer code and a
// user-facing message. The application's own errors use the domain "Kavlo";
// failures inside FFmpeg use "FFmpeg" with the AVERROR value as the code.
// Cancellation is not a failure and has its own type, so callers can end a
// superseded task silently.
#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>

namespace kavlo {

inline constexpr std::string_view kKavloDomain = "Kavlo";
inline constexpr std::string_view kMediaDomain = "FFmpeg";

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

// Converts a negative FFmpeg status into an Error of the media domain whose
// message names the operation ("open input: No such file or directory").
[[noreturn]] void throwMediaError(int averror, std::string_view operation);

inline int checkAv(int ret, std::string_view operation) {
    if (ret < 0)
        throwMediaError(ret, operation);
    return ret;
}

} // namespace kavlo

namespace kavlo {
// Limits FFmpeg's own console output to errors (command-line tools call it).
void quietMediaLogging();
// Makes the C library hand picture-sized buffers straight back to the system
// when they are freed, instead of keeping them in its heap for reuse; a
// render's peak memory then stays what it really holds. Called by main().
void returnLargeBuffersToTheSystem();
} // namespace kavlo
