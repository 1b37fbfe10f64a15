#pragma once

// A private folder for the file-reading targets, made once per process, with
// the per-user folders (XDG_CONFIG_HOME for the protection key,
// XDG_DATA_HOME for the data folder) pointed inside it. Removed at exit.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace velk::fuzz {

class TempFolder {
public:
    static const TempFolder& instance() {
        static const TempFolder folder;
        return folder;
    }

    const std::filesystem::path& path() const { return path_; }

    // Writes the bytes as the file, replacing what was there.
    static void writeFile(const std::filesystem::path& file, std::string_view bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Removes everything in the folder but the per-user key folder.
    static void clear(const std::filesystem::path& folder) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            std::filesystem::remove_all(entry.path(), ec);
        }
    }

    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

private:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
        std::filesystem::create_directories(path_ / "config");
        std::filesystem::create_directories(path_ / "data");
        std::filesystem::create_directories(path_ / "work");
        setenv("XDG_CONFIG_HOME", (path_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (path_ / "data").c_str(), 1);
    }

    std::filesystem::path path_;
};

}  // namespace velk::fuzz
