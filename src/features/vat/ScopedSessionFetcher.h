#pragma once

namespace velk::core::infra::java {
class ZezizUrBridge;
}  // namespace velk::core::infra::java

namespace velk::core::infra::portal {
class NapSession;
}  // namespace velk::core::infra::portal

namespace velk::core::features::vat {

// Hands the bridge the download through the logged-in portal session for the
// run of one VAT operation, and takes it back at the end. A GET whose status
// is outside 2xx gives no bytes, so an error page is never taken for a JAR
// and the bridge falls back to its anonymous download. Taken back because the
// session is the engine's and not safe for concurrent use: a fetcher left
// behind would let the local API's validation drive it from another thread,
// or after the session is gone.
class ScopedSessionFetcher {
public:
    ScopedSessionFetcher(infra::java::ZezizUrBridge& bridge, infra::portal::NapSession& session);
    ~ScopedSessionFetcher();
    ScopedSessionFetcher(const ScopedSessionFetcher&) = delete;
    ScopedSessionFetcher& operator=(const ScopedSessionFetcher&) = delete;

private:
    infra::java::ZezizUrBridge& bridge_;
};

}  // namespace velk::core::features::vat
