// The Error a call throws, as one comparable text: "Kavlo 4 Not enough
// frames in selected segment". Header-only.
#pragma once

#include "core/error.h"

#include <string>

namespace kavlo::test {

// "domain code message" of the Error `f` throws; "no error" when it returns.
template <typename F> std::string errorText(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        std::string text = e.domain();
        text.append(" ").append(std::to_string(e.code())).append(" ").append(e.what());
        return text;
    }
    return "no error";
}

} // namespace kavlo::test
