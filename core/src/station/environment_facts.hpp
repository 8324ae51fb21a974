#pragma once

#include <string>
#include <string_view>

// The pieces of the environment report, separated so the rules can be checked on any text.
namespace ostrak::environment {

// "x86-64" for x86_64, "ARM64" for aarch64 or arm64, else the machine name as given.
std::string architectureName(std::string_view machine);
// Whether a kernel release text ("6.1.0-13-amd64") is at least 5.10; unreadable texts are not.
bool kernelSupported(std::string_view release);
bool isSupported(std::string_view release, std::string_view architecture);
// PRETTY_NAME of an os-release text, unquoted; "Linux" when it has none.
std::string prettyName(std::string_view osRelease);
// The operating-system text of this machine (also used by the diagnostic report).
std::string operatingSystem();

}  // namespace ostrak::environment
