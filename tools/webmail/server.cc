#include "tools/webmail/server.h"

#include <httplib.h>

#include "tools/webmail/new_account.h"

namespace quorvel::webmail {

struct Server::Impl {
    std::string mail_dir;
    httplib::Server http;
};

Server::Server(std::string mail_dir) : impl_(std::make_unique<Impl>()) {
    impl_->mail_dir = std::move(mail_dir);
    Impl* impl = impl_.get();
    // Every answer is a page with status 200, refusals included.
    impl_->http.Post("/WorldClient.dll", [impl](const httplib::Request& request, httplib::Response& response) {
        const Answer answer = NewAccount(impl->mail_dir, request.body);
        response.status = 200;
        response.set_content(answer.page, "text/html; charset=utf-8");
    });
}

Server::~Server() { Stop(); }

int Server::Bind(int port) {
    if (port == 0) return impl_->http.bind_to_any_port("127.0.0.1");
    return impl_->http.bind_to_port("127.0.0.1", port) ? port : -1;
}

bool Server::Run() { return impl_->http.listen_after_bind(); }

void Server::Stop() { impl_->http.stop(); }

}  // namespace quorvel::webmail
