// The local API's request bodies: the bounded body reader stops at its limit
// whatever the chunking, and the JSON body parser answers every text with a
// value no deeper than the bound that writes back out and reads back equal.

#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "JsonDepth.h"
#include "common/JsonUtils.h"
#include "server/ApiAnswers.h"
#include "server/RequestBodyReader.h"

namespace {

using velk::core::json;
using velk::server::RequestBodyReader;

void checkBodyReader(std::string_view input, std::size_t chunk, std::size_t maxBytes, bool multipart) {
    httplib::Request req;
    if (multipart) {
        req.set_header("Content-Type", "multipart/form-data; boundary=x");
    }
    bool stoppedByReceiver = false;
    const auto deliver = [&](const httplib::ContentReceiver& receiver) {
        for (std::size_t at = 0; at < input.size(); at += chunk) {
            const std::string_view piece = input.substr(at, chunk);
            if (!receiver(piece.data(), piece.size())) {
                stoppedByReceiver = true;
                return false;
            }
        }
        return true;
    };
    const httplib::ContentReader reader(deliver, [&](const httplib::MultipartContentHeader& header,
                                                     const httplib::ContentReceiver& receiver) {
        httplib::MultipartFormData part;
        part.name = "file";
        return header(part) && deliver(receiver);
    });
    std::string body;
    const RequestBodyReader::Outcome outcome = RequestBodyReader::read(req, reader, maxBytes, body);
    VELK_FUZZ_CHECK(body.size() <= maxBytes);
    switch (outcome) {
        case RequestBodyReader::Outcome::Complete:
            VELK_FUZZ_CHECK(input.size() <= maxBytes);
            VELK_FUZZ_CHECK(body == (multipart ? std::string_view() : input));
            break;
        case RequestBodyReader::Outcome::TooLarge:
            VELK_FUZZ_CHECK(input.size() > maxBytes);
            VELK_FUZZ_CHECK(stoppedByReceiver);
            break;
        case RequestBodyReader::Outcome::Broken:
            VELK_FUZZ_CHECK(!"a reader that delivers everything is never broken");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t chunkChoice = parts.byte();
    const std::uint8_t limitChoice = parts.byte();
    const std::string_view text = parts.rest();

    VELK_FUZZ_NO_THROW({
        checkBodyReader(text, 1 + chunkChoice % 64, limitChoice % 2 ? text.size() + limitChoice : limitChoice,
                        chunkChoice & 0x80);

        httplib::Request req;
        req.body = std::string(text);
        const json body = velk::server::parseJsonBody(req);
        VELK_FUZZ_CHECK(velk::fuzz::jsonDepth(body) <= velk::core::kMaxJsonDepth);
        if (velk::core::exceedsJsonDepth(text)) {
            VELK_FUZZ_CHECK(body == json::object());
        }
        // What was read writes back out (valid UTF-8) and reads back equal.
        const std::string written = velk::core::dumpCompact(body);
        const std::optional<json> again = velk::core::tryParseExternalJson(written);
        VELK_FUZZ_CHECK(again.has_value());
        VELK_FUZZ_CHECK(*again == body || body.is_number_float());
    });
    return 0;
}
