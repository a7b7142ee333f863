// Loopback pages for harvest tests: fixed replies by request path.
#pragma once

#include "support/loopback_server.h"

#include <map>
#include <string>

namespace kestrova::harvest_test {

using test_support::Reply;

/// Serves `by_path` (keys like "/list.txt?page=2"), 404 for any other path.
inline test_support::Handler pages(std::map<std::string, Reply> by_path) {
    return [by_path = std::move(by_path)](const test_support::ReceivedRequest& request) {
        auto found = by_path.find(request.target);
        return found != by_path.end() ? found->second : Reply::text("no such page", 404);
    };
}

/// A response that announces `announced` body bytes, sends `sent` and closes.
inline Reply cut_off(const std::string& sent, std::size_t announced) {
    Reply reply;
    reply.raw =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n" + sent;
    return reply;
}

} // namespace kestrova::harvest_test
