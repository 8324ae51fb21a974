#pragma once

#include <QString>

#include <exception>
#include <string>

namespace plovik {

// The user-facing description of a failure: the message of an OstrakError verbatim, the
// platform's own description for anything else.
inline QString describe(const std::exception& failure) {
    return QString::fromStdString(failure.what());
}

inline std::string utf8(const QString& text) {
    return text.toStdString();
}

}  // namespace plovik
