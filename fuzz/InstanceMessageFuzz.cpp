// The message of a later start, read in pieces from its connection: whatever
// arrives in whatever pieces, a read takes what is there without waiting, the
// text is what was sent up to the size limit, and the message is whole at the
// sender's close or at the limit and stays so.

#include <fcntl.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "platform/InstanceMessage.h"
#include "platform/UniqueFd.h"

using velk::platform::InstanceMessage;
using velk::platform::UniqueFd;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts input(data, size);
    const std::size_t maxBytes = input.byte() % 128;
    const bool closeAtEnd = (input.byte() & 1) != 0;

    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        return 0;
    }
    UniqueFd writer(ends[1]);
    // The sender never waits either: a full buffer ends the run.
    ::fcntl(writer.get(), F_SETFL, O_NONBLOCK);
    InstanceMessage message(UniqueFd(ends[0]), maxBytes);

    std::string sent;
    VELK_FUZZ_NO_THROW({
        // Each part goes out as its own piece, read before the next.
        while (!input.empty()) {
            const std::string_view piece = input.text("|");
            if (!piece.empty() && ::send(writer.get(), piece.data(), piece.size(), MSG_NOSIGNAL) !=
                                      static_cast<ssize_t>(piece.size())) {
                return 0;
            }
            sent.append(piece);
            const InstanceMessage::State state = message.readAvailable();
            VELK_FUZZ_CHECK(message.text() == sent.substr(0, message.text().size()));
            VELK_FUZZ_CHECK(message.text().size() <= maxBytes);
            if (sent.size() >= maxBytes) {
                VELK_FUZZ_CHECK(state == InstanceMessage::State::Complete);
                VELK_FUZZ_CHECK(message.text() == sent.substr(0, maxBytes));
            } else {
                VELK_FUZZ_CHECK(state == InstanceMessage::State::Reading);
                VELK_FUZZ_CHECK(message.text() == sent);
            }
        }
        if (closeAtEnd) {
            writer.reset();
            VELK_FUZZ_CHECK(message.readAvailable() == InstanceMessage::State::Complete);
            VELK_FUZZ_CHECK(message.text() == sent.substr(0, maxBytes));
            VELK_FUZZ_CHECK(message.readAvailable() == InstanceMessage::State::Complete);
        }
    });
    return 0;
}
