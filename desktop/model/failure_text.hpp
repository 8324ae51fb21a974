#pragma once

#include <QString>

#include <exception>
#include <string>

#include "ostrak/error.hpp"

namespace plovik {

// The user-facing description of a failure, as the core words it.
inline QString describe(const std::exception& failure) {
    return QString::fromStdString(ostrak::describeFailure(failure));
}

inline std::string utf8(const QString& text) {
    return text.toStdString();
}

}  // namespace plovik
