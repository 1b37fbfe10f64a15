#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velk::platform {

// Statuses of the smart-card layer, with the values Windows gives them, so the
// signer maps them the same way on every platform.
inline constexpr std::uint32_t kStatusOk = 0;
inline constexpr std::uint32_t kScardWWrongChv = 0x8010006B;
inline constexpr std::uint32_t kScardWChvBlocked = 0x8010006C;
inline constexpr std::uint32_t kScardWCancelledByUser = 0x8010006E;
// The key could not be read for another reason than its PIN.
inline constexpr std::uint32_t kNteBadKeyset = 0x80090016;
// A raw-signature output buffer too small for the signature.
inline constexpr std::uint32_t kNteBufferTooSmall = 0x80090028;

// What the key provider tells the user when it needs a PIN it was not given.
struct PinRequest {
    std::string certificateId;  // SHA-1 thumbprint, upper-case hexadecimal
};

// status kStatusOk with the PIN the user typed, or a smart-card status such as
// kScardWCancelledByUser.
struct PinAnswer {
    std::uint32_t status = kScardWCancelledByUser;
    std::string pin;
};

// Asked by the certificate store when a PIN-protected key is used with no PIN
// given and none cached. The desktop program installs its PIN dialog; without
// one every such use is cancelled.
using PinPrompt = std::function<PinAnswer(const PinRequest&)>;

}  // namespace velk::platform
