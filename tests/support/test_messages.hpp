#pragma once

#include <functional>
#include <string>

#include "ostrak/error.hpp"

namespace ostrak {

// What messageOf gives for an action that throws no OstrakError.
inline const std::string noError = "(no OstrakError)";

// The message of the OstrakError an action throws, or noError when it throws none.
inline std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const OstrakError& error) {
        return error.message();
    }
    return noError;
}

}  // namespace ostrak
