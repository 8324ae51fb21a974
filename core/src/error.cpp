#include "ostrak/error.hpp"

#include <utility>

namespace ostrak {

OstrakError::OstrakError(std::string message) : m_message(std::move(message)) {}

const std::string& OstrakError::message() const noexcept {
    return m_message;
}

const char* OstrakError::what() const noexcept {
    return m_message.c_str();
}

}  // namespace ostrak
