#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace velk::test {

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string sub(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Sets (or unsets, with nullopt) one environment variable and restores the
// previous value when it goes.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        if (value) {
            setenv(name_.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Points every per-user folder at a temporary folder, so no test touches the
// real home.
class IsolatedHome {
public:
    IsolatedHome()
        : home_("HOME", dir_.str()),
          data_("XDG_DATA_HOME", dir_.sub("data")),
          config_("XDG_CONFIG_HOME", dir_.sub("config")) {}

    const TempDir& dir() const { return dir_; }
    std::string dataHome() const { return dir_.sub("data"); }
    std::string configHome() const { return dir_.sub("config"); }

private:
    TempDir dir_;
    ScopedEnv home_;
    ScopedEnv data_;
    ScopedEnv config_;
};

}  // namespace velk::test
