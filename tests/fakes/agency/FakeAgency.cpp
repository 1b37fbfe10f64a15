#include "fakes/agency/FakeAgency.h"

#include <exception>

#include "common/AgencyEndpoints.h"
#include "common/JsonUtils.h"
#include "fakes/agency/AgencyPortalState.h"

namespace velk::test {

namespace {

using core::AgencyEndpoints;
using core::json;

const std::string kPortalHost(AgencyEndpoints::kPortalHost);
const std::string kLoginHost(AgencyEndpoints::kLoginHost);
const std::string kRestApiHost(AgencyEndpoints::kRestApiHost);
const std::string kCloudHost(AgencyEndpoints::kCloudBaseUrl.substr(std::string_view("https://").size()));

Reply page(const std::string& title) {
    Reply reply = Reply::text(200, "<html><head><title>" + title + "</title></head><body></body></html>");
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

Reply unauthorised() {
    return Reply::json(401, R"({"error":"unauthorized"})");
}

// The taxpayer of the list with this tin, as the select reply names it.
Reply selectTaxpayer(const std::string& taxpayersJson, const std::string& body) {
    json request;
    try {
        request = json::parse(body);
    } catch (const std::exception&) {
        return Reply::json(400, R"({"error":"bad json"})");
    }
    if (!request.is_object() || !request.contains("tin") || !request["tin"].is_number_integer()) {
        return Reply::json(400, R"({"error":"tin expected"})");
    }
    const std::int64_t tin = request["tin"].get<std::int64_t>();
    const json taxpayers = json::parse(taxpayersJson, nullptr, false);
    for (const json& taxpayer : taxpayers.is_array() ? taxpayers : json::array()) {
        if (taxpayer.is_object() && taxpayer.contains("tin") && taxpayer["tin"].is_number_integer() &&
            taxpayer["tin"].get<std::int64_t>() == tin) {
            // The list's "pin" goes back as it is, whatever its JSON type.
            const json reply = {{"tin", tin},
                                {"pin", taxpayer.value("pin", json(""))},
                                {"tpId", "tp-" + std::to_string(tin)}};
            return Reply::json(200, core::dumpCompact(reply));
        }
    }
    return Reply::json(404, R"({"error":"unknown taxpayer"})");
}

}  // namespace

FakeAgency::FakeAgency(LoopbackHosts& hosts) : FakeAgency(hosts, Ports{}) {}

FakeAgency::FakeAgency(LoopbackHosts& hosts, Ports ports)
    : portal_(hosts.add(kPortalHost, false, ports.portal)),
      login_(hosts.add(kLoginHost, true, ports.login)),
      api_(hosts.add(kRestApiHost, false, ports.api)),
      cloud_(hosts.add(kCloudHost, false, ports.cloud)),
      state_(std::make_shared<AgencyPortalState>()),
      pls_(hosts.pki()),
      restApi_(hosts.pki()) {
    script();
}

FakeAgency::~FakeAgency() = default;

void FakeAgency::script() {
    state_->restoreDefaults();
    const std::shared_ptr<AgencyPortalState> state = state_;
    const auto live = [state](const RecordedRequest& r) { return state->isLive(r.cookie(kSessionCookie)); };

    // The certificate login: entry point, client-certificate hop, callback.
    portal_.on("GET", "/auth/entrypoint", Reply::redirect("/home.html").setCookie("ENTRY=e1; Path=/"));
    login_.on(
        "GET", "/auth/login/qes",
        Reply::redirect("https://" + kPortalHost + "/auth/callback?code=c0de").setCookie("LOGIN=l1; Path=/"));
    portal_.on("GET", "/auth/callback", [state](const RecordedRequest& r) {
        if (r.query != "code=c0de" || r.cookie("ENTRY") != "e1") {
            return Reply::text(400, "bad callback");
        }
        return Reply::redirect("/home.html")
            .setCookie(std::string(kSessionCookie) + "=" + state->openSession() +
                       "; Path=/; Secure; HttpOnly");
    });

    portal_.on("GET", "/home.html", page("home"));
    portal_.onPrefix("GET", "/details/", [](const RecordedRequest& r) { return page(r.path); });

    portal_.on("GET", "/api/base/taxpayers", [state, live](const RecordedRequest& r) {
        return live(r) ? Reply::json(200, state->taxpayersJson()) : unauthorised();
    });
    portal_.on("GET", "/api/base/categories", [state, live](const RecordedRequest& r) {
        return Reply::json(200, live(r) ? state->catalogueJson() : "[]");
    });
    portal_.on("GET", "/auth/users/me", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        return Reply::json(200, core::dumpCompact(json{{"username", "ivan"}, {"_csrf", state->csrfToken()}}));
    });
    portal_.on("POST", "/api/common/taxpayer/select", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        Reply reply = selectTaxpayer(state->taxpayersJson(), r.body);
        if (reply.status == 200) {
            state->renewCsrfToken();
        }
        return reply;
    });
    portal_.onPrefix("GET", "/api/common/service-links/select/", [state, live](const RecordedRequest& r) {
        if (const std::optional<int> status = state->nextServiceSelectStatus()) {
            Reply reply = Reply::json(*status, "{}");
            if (*status == 401 || *status == 405) {
                reply.setCookie("WAF=w1; Path=/");
            }
            return reply;
        }
        return live(r) ? Reply::json(200, R"({"selected":true})") : unauthorised();
    });

    debtPayments_.install(portal_, live);
    dec16_.install(portal_, live);
    pls_.install(portal_, login_, live, [state] { return state->taxpayersJson(); });
    restApi_.install(api_);
    javaClient_.install(portal_);
    vat_.install(portal_, live, [state] { return state->taxpayersJson(); });
    cloudRoutes_.install(cloud_);

    portal_.on("POST", kExpirePath, [state](const RecordedRequest&) {
        state->expireSessions();
        return Reply::text(204, "");
    });
}

void FakeAgency::expireSessions() {
    state_->expireSessions();
}

int FakeAgency::sessionsOpened() const {
    return state_->sessionsOpened();
}

std::string FakeAgency::csrfToken() const {
    return state_->csrfToken();
}

void FakeAgency::setTaxpayersJson(std::string json) {
    state_->setTaxpayersJson(std::move(json));
}

void FakeAgency::setCatalogueJson(std::string json) {
    state_->setCatalogueJson(std::move(json));
}

void FakeAgency::queueServiceSelectStatuses(const std::vector<int>& statuses) {
    state_->queueServiceSelectStatuses(statuses);
}

}  // namespace velk::test
