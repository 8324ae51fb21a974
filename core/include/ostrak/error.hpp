#pragma once

#include <exception>
#include <string>

namespace ostrak {

// The one error type of the core. Its message is the complete text shown to the person; there
// are no error codes. Failures of the platform that pass through unwrapped are
// std::system_error, whose what() is the platform's own description.
class OstrakError : public std::exception {
public:
    explicit OstrakError(std::string message);
    const std::string& message() const noexcept;
    const char* what() const noexcept override;

private:
    std::string m_message;
};

// The text to show a person for any failure: an OstrakError's message as it stands; a failure
// of the system (std::system_error, which std::filesystem's errors are) in Chinese for its
// usual causes, never the platform's English; running out of memory as such; anything else by
// its own description.
std::string describeFailure(const std::exception& failure);

// The usual causes of a failed system call in Chinese (no access, not found, no space, a
// read-only disk…), without a full stop; others by their number.
std::string systemErrorText(int error);

}  // namespace ostrak
