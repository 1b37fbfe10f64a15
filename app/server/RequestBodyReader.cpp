#include "server/RequestBodyReader.h"

namespace velk::server {

RequestBodyReader::Outcome RequestBodyReader::read(const httplib::Request& req,
                                                   const httplib::ContentReader& reader, std::size_t maxBytes,
                                                   std::string& body) {
    std::size_t received = 0;
    bool tooLarge = false;
    // False once the limit would be passed, which makes the library stop
    // reading at once.
    const auto admit = [&](std::size_t length) {
        if (length > maxBytes - received) {
            tooLarge = true;
            return false;
        }
        received += length;
        return true;
    };

    bool complete = false;
    if (req.is_multipart_form_data()) {
        complete = reader([](const httplib::MultipartFormData&) { return true; },
                          [&](const char*, std::size_t length) { return admit(length); });
    } else {
        complete = reader([&](const char* data, std::size_t length) {
            if (!admit(length)) {
                return false;
            }
            body.append(data, length);
            return true;
        });
    }
    if (complete) {
        return Outcome::Complete;
    }
    return tooLarge ? Outcome::TooLarge : Outcome::Broken;
}

}  // namespace velk::server
