#pragma once

#include <optional>
#include <string>

#include "common/JsonUtils.h"
#include "infrastructure/signing/Bytes.h"

namespace velk::signing {

// Smart-card and token PINs remembered per certificate id across runs, in
// <dataDir>/pins.dat: one JSON object mapping each id to the base64 text of
// the protected PIN. Every call reads the file anew and writes it whole,
// under one process-wide mutex. Callers wipe the PINs they get.
class PinStore {
public:
    static std::optional<std::string> get(const std::string& certificateId);
    // False for an empty id, when protection fails or the file is not written.
    static bool store(const std::string& certificateId, const std::string& pin);
    // True when nothing needed writing or the file was written.
    static bool remove(const std::string& certificateId);
    // Empty when there is no per-user data folder.
    static std::string path();
    // Removes the temporary copies of pins.dat that an interrupted write left
    // beside it (they may hold PINs since removed). Start-up calls it, and the
    // first read of each pins.dat does it too.
    static void removeStaleCopies();

private:
    static void removeStaleCopiesOf(const std::string& file);
    static core::json load();
    static bool save(const core::json& document);
    static std::optional<Bytes> protect(const std::string& pin);
    static std::optional<std::string> unprotect(const Bytes& blob);
};

}  // namespace velk::signing
