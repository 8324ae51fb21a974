#pragma once

#include <filesystem>
#include <string>

namespace ostrak {

using Bytes = std::string;           // raw bytes
using Path = std::filesystem::path;  // absolute paths stand for file URLs

}  // namespace ostrak
