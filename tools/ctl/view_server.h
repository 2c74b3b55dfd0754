// The viewer's web server: cpp-httplib's routing behind limits that a web
// page, a slow client or a large request cannot get past.
//
// Debian's cpp-httplib is a compiled library, so its build-time limits
// (header size, count, body decompression) cannot be changed from here;
// this server reads every request through its own stream instead, which
// gives the request head a byte budget and a deadline, and admits
// connections against a total and a per-client bound.
#ifndef VOREXCTL_VIEW_SERVER_H
#define VOREXCTL_VIEW_SERVER_H

#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vorexctl {

struct view_limits {
    std::size_t head_bytes = 8192;  // request line and headers together
    std::size_t header_count = 32;
    std::size_t payload_bytes = 4096;  // no route reads a body; the library's own bound for any it would
    std::chrono::milliseconds head_time{1000};  // the whole head, from its first byte
    std::chrono::milliseconds idle_time{1000};  // before a request, and between two on one connection
    std::chrono::milliseconds write_wait{1000};  // for the client to take more of an answer
    std::chrono::milliseconds answer_time{10000};  // for a whole answer, from the request's first byte
    int connections = 64;
    int connections_per_client = 8;
    int requests_per_connection = 100;
};

struct view_access {
    std::string bind;                      // the listening address, a Host name allowed as it is
    std::vector<std::string> extra_hosts;  // --allow-host
    std::string token;                     // --token; empty: none asked
};

// Host names a browser may use, without the port: localhost, 127.0.0.1,
// the bound address, the address the browser connected to, and the
// extras. Compared without regard to case.
bool host_allowed(const std::string& host_header, const view_access& access, const std::string& local_address);
// True for 127.0.0.0/8 and "localhost".
bool is_loopback(const std::string& address);
// A token fit for a URL and a cookie: 8 to 128 of A-Z a-z 0-9 . _ ~ -.
bool token_well_formed(const std::string& token);

class view_server : public httplib::Server {
public:
    view_server(view_limits limits, view_access access);

    // Binds like bind_to_port / bind_to_any_port (port 0); the port, or -1.
    int bind(const std::string& address, int port);

protected:
    bool process_and_close_socket(socket_t sock) override;

private:
    HandlerResponse screen(const httplib::Request& req, httplib::Response& res);
    bool admit(const std::string& client);
    void leave(const std::string& client);

    const view_limits limits_;
    const view_access access_;
    std::mutex clients_mutex_;
    std::map<std::string, int> clients_;  // open connections per client address
    int open_ = 0;
};

}  // namespace vorexctl

#endif
