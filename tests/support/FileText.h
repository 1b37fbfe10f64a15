#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velk::test {

// The whole file as bytes; empty when it cannot be opened.
inline std::string readFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes the file whole, creating the folders above it first.
inline void writeFileText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace velk::test
