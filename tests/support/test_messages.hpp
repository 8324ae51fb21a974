#pragma once

#include <functional>
#include <string>

#include "ostrak/error.hpp"

namespace ostrak {

// The message of the OstrakError an action throws, or a marker when it throws none.
inline std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const OstrakError& error) {
        return error.message();
    }
    return "(no OstrakError)";
}

}  // namespace ostrak
