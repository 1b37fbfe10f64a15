#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

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

// The text's lines without their line ends; a last line without one counts.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// Writes the file at relative below root, with the folders between, and hands
// back its full path: one file of a folder tree that a test lays out.
inline std::string writeFileBelow(const std::string& root, const std::string& relative,
                                  const std::string& text) {
    const std::string path = (std::filesystem::path(root) / relative).string();
    writeFileText(path, text);
    return path;
}

}  // namespace velk::test
