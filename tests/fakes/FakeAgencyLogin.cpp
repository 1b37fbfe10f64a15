#include "fakes/FakeAgencyLogin.h"

namespace velk::test {

FakeAgencyLogin::FakeAgencyLogin(LoopbackHosts& hosts)
    : portal_(hosts.add("portal.nra.bg")), login_(hosts.add("login.nra.bg", true)) {
    script();
}

void FakeAgencyLogin::script() {
    portal_.on("GET", "/auth/entrypoint", Reply::redirect("/home.html").setCookie("ENTRY=e1; Path=/"));
    portal_.on("GET", "/home.html", Reply::text(200, "<html>home</html>"));
    login_.on("GET", "/auth/login/qes",
              Reply::redirect("https://portal.nra.bg/auth/callback?code=c0de").setCookie("LOGIN=l1; Path=/"));
    portal_.on("GET", "/auth/callback", [](const RecordedRequest& r) {
        if (r.query != "code=c0de" || r.cookie("ENTRY") != "e1") {
            return Reply::text(400, "bad callback");
        }
        return Reply::redirect("/home.html")
            .setCookie(std::string(kSessionCookie) + "=" + kSessionValue + "; Path=/; Secure; HttpOnly");
    });
    portal_.on("GET", "/api/base/taxpayers", [](const RecordedRequest& r) {
        return r.cookie(kSessionCookie) == kSessionValue ? Reply::json(200, "[]") : Reply::json(401, "{}");
    });
}

}  // namespace velk::test
