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

}  // namespace ostrak
