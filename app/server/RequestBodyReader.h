#pragma once

#include <cstddef>
#include <string>

#include <httplib.h>

namespace velk::server {

// Reads a request's body through the library's content reader and stops at a
// limit. The library itself bounds only a body with a Content-Length; a
// chunked body, or one read until the caller closes, it would buffer whole.
class RequestBodyReader {
public:
    enum class Outcome {
        Complete,
        TooLarge,  // the caller sent more than the limit; the rest is unread
        Broken,    // bad framing, or the caller went away; the library set the status
    };

    // The parts of a multipart body are counted against the limit and
    // dropped: no route reads them, and such a body reads as empty.
    static Outcome read(const httplib::Request& req, const httplib::ContentReader& reader,
                        std::size_t maxBytes, std::string& body);
};

}  // namespace velk::server
