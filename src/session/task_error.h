// Errors that background tasks carry back to the UI thread.
#pragma once

#include <exception>
#include <stdexcept>

namespace kavlo {

// Calls `use` with the exception `error` holds; one that is not a
// std::exception reads "Unknown error.".
template <typename F> void withException(std::exception_ptr error, F&& use) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        use(e);
    } catch (...) {
        use(std::runtime_error("Unknown error."));
    }
}

} // namespace kavlo
