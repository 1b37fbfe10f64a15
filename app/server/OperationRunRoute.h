#pragma once

#include <httplib.h>

namespace velk::server {

class RouteContext;

// POST /api/v1/operations/{typeId}: settles the sender (asking the user when
// that is not clear), checks the submission token when cloud mode asks for
// one, has the user confirm the run, runs it through the engine and answers
// with its result.
//
// With a token to check, every check that needs no user comes first, so a
// request without a valid token never opens a dialog nor changes the active
// sender; the token is used up only once the sender is settled.
//
// The user sees one request's dialogs at a time: a run that would need the
// user while another request's dialog is open is refused at once, and a
// dialog left unanswered closes as cancelled after the server's time limit.
class OperationRunRoute {
public:
    explicit OperationRunRoute(RouteContext& context) : context_(context) {}

    void handle(const httplib::Request& req, httplib::Response& res) const;

private:
    RouteContext& context_;
};

}  // namespace velk::server
