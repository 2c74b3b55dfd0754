#include "view_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace vorexctl {

namespace {

using clock = std::chrono::steady_clock;

// On every answer, the library's and this server's own alike: no other
// site may embed or read what the viewer serves, nor guess its type, nor
// keep a copy.
const httplib::Headers guard_headers = {
    {"Cross-Origin-Resource-Policy", "same-origin"},
    {"X-Content-Type-Options", "nosniff"},
    {"Cache-Control", "no-store"},
};
const char* const token_cookie = "vorex_view_token";

// What the routes of one connection tell its reading loop; each connection
// runs on one thread of the pool from start to end.
struct connection_state {
    std::string local_address;
    bool close = false;  // the client sent what was not read: no next request
};
thread_local connection_state* current_connection = nullptr;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string address_text(const sockaddr_storage& a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
    else if (a.ss_family == AF_INET6) inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
    return text;
}

int address_port(const sockaddr_storage& a) {
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return 0;
}

sockaddr_storage end_address(int sock, bool peer) {
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    if ((peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&a), &length)
              : getsockname(sock, reinterpret_cast<sockaddr*>(&a), &length)) != 0) {
        a.ss_family = AF_UNSPEC;
    }
    return a;
}

// Waits until the socket can be read (or written) or the deadline passes.
bool wait_for(int sock, short events, clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) return false;
        pollfd p{sock, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n == 0 || errno != EINTR) return false;
    }
}

// The socket as cpp-httplib reads and writes it, with a byte budget and a
// deadline for each request's head. No route reads a body, so whatever
// the library reads of a request is its head.
class limited_stream : public httplib::Stream {
public:
    limited_stream(int sock, const view_limits& limits) : sock_(sock), limits_(limits) {}

    // Before each request: waits up to the idle time for its first byte,
    // then gives it a fresh budget and deadline. False when none came.
    bool next_request() {
        if (pos_ == end_ && !wait_for(sock_, POLLIN, clock::now() + limits_.idle_time)) return false;
        begin();
        return true;
    }
    // Starts the clocks and the budget of one request.
    void begin() {
        const auto start = clock::now();
        head_deadline_ = start + limits_.head_time;
        answer_deadline_ = start + limits_.answer_time;
        budget_ = limits_.head_bytes;
        exhausted_ = false;
        written_ = 0;
    }
    bool exhausted() const { return exhausted_; }
    bool answered() const { return written_ > 0; }

    bool is_readable() const override { return pos_ < end_ || wait_for(sock_, POLLIN, head_deadline_); }
    bool is_writable() const override { return wait_for(sock_, POLLOUT, write_deadline()); }

    ssize_t read(char* ptr, size_t size) override {
        if (budget_ == 0) {
            exhausted_ = true;
            return -1;
        }
        if (pos_ == end_) {
            if (!wait_for(sock_, POLLIN, head_deadline_)) return -1;
            const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return n;
            pos_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min({size, end_ - pos_, budget_});
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        budget_ -= n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        if (n > 0) written_ += static_cast<std::size_t>(n);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { describe(true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { describe(false, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    clock::time_point write_deadline() const { return std::min(clock::now() + limits_.write_wait, answer_deadline_); }
    void describe(bool peer, std::string& ip, int& port) const {
        const sockaddr_storage a = end_address(sock_, peer);
        ip = address_text(a);
        port = address_port(a);
    }

    const int sock_;
    const view_limits& limits_;
    char buffer_[4096];
    std::size_t pos_ = 0, end_ = 0;
    std::size_t budget_ = 0;
    bool exhausted_ = false;
    std::size_t written_ = 0;
    clock::time_point head_deadline_{}, answer_deadline_{};
};

// An answer of this server's own, for a connection it will not serve.
void answer_and_close(httplib::Stream& stream, int status, const char* reason) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& h : guard_headers) text += h.first + ": " + h.second + "\r\n";
    text += "Connection: close\r\nContent-Length: 0\r\n\r\n";
    stream.write(text);
}

// Closes the sending side, then reads what the client still sends for a
// moment, so that the answer reaches it before the connection is reset for
// the bytes left unread.
void discard_unread(int sock) {
    constexpr std::size_t most = 1 << 20;
    const auto until = clock::now() + std::chrono::milliseconds(500);
    ::shutdown(sock, SHUT_WR);
    char sink[4096];
    for (std::size_t taken = 0; taken < most && wait_for(sock, POLLIN, until);) {
        const ssize_t n = ::recv(sock, sink, sizeof sink, 0);
        if (n <= 0) break;
        taken += static_cast<std::size_t>(n);
    }
}

void refuse(httplib::Response& res, int status, const char* why) {
    res.status = status;
    res.set_content(std::string(why) + "\n", "text/plain");
}

// Headers the library adds itself, not sent by the client.
bool added_by_library(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

bool has_body(const httplib::Request& req) {
    return req.has_header("Transfer-Encoding") ||
           (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
}

// Browsers say when another site's page asks (Sec-Fetch-Site). Such a page
// may send its reader here by a link, but not fetch or embed anything, so
// it cannot even make the sensor send an image.
bool from_this_site_or_followed_link(const httplib::Request& req) {
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (site.empty() || site == "same-origin" || site == "none") return true;
    const std::string dest = req.get_header_value("Sec-Fetch-Dest");
    return req.get_header_value("Sec-Fetch-Mode") == "navigate" && dest == "document";
}

// Compares without stopping at the first difference, so the time taken
// tells nothing of how much of a guess was right.
bool same_secret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string cookie_value(const httplib::Request& req, const std::string& name) {
    const std::string cookies = "; " + req.get_header_value("Cookie");
    const std::string key = "; " + name + "=";
    const auto at = cookies.find(key);
    if (at == std::string::npos) return {};
    const auto start = at + key.size();
    return cookies.substr(start, cookies.find(';', start) - start);
}

}  // namespace

bool is_loopback(const std::string& address) {
    in_addr a{};
    if (lower(address) == "localhost") return true;
    return inet_pton(AF_INET, address.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

bool token_well_formed(const std::string& token) {
    if (token.size() < 8 || token.size() > 128) return false;
    return std::all_of(token.begin(), token.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '~' || c == '-';
    });
}

bool host_allowed(const std::string& host_header, const view_access& access, const std::string& local_address) {
    std::string host = lower(host_header);
    const auto colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) host.erase(colon);
    if (host.empty()) return false;
    if (host == "localhost" || host == "127.0.0.1" || host == lower(access.bind) || host == local_address) return true;
    return std::any_of(access.extra_hosts.begin(), access.extra_hosts.end(),
                       [&](const std::string& h) { return lower(h) == host; });
}

view_server::view_server(view_limits limits, view_access access)
    : limits_(limits), access_(std::move(access)) {
    // Each admitted connection keeps one thread; the spare ones answer
    // the connections over the bounds at once.
    new_task_queue = [this] { return new httplib::ThreadPool(static_cast<std::size_t>(limits_.connections) + 4); };
    set_payload_max_length(limits_.payload_bytes);
    set_default_headers(guard_headers);
    set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return screen(req, res); });
}

int view_server::bind(const std::string& address, int port) {
    const int bound = port == 0 ? bind_to_any_port(address) : (bind_to_port(address, port) ? port : -1);
    // The library listens with a backlog of 5: a burst of connections
    // would wait for SYN retransmits. Listening again only enlarges it.
    if (bound >= 0) ::listen(svr_sock_, 128);
    return bound;
}

// Everything a request must pass before any route sees it, in the order
// of what it costs the client to get right.
httplib::Server::HandlerResponse view_server::screen(const httplib::Request& req, httplib::Response& res) {
    connection_state& connection = *current_connection;
    if (req.method != "GET" && req.method != "HEAD") {
        connection.close = has_body(req);
        res.set_header("Allow", "GET, HEAD");
        refuse(res, 405, "only GET and HEAD are answered");
        return HandlerResponse::Handled;
    }
    if (has_body(req)) {
        connection.close = true;
        refuse(res, 413, "requests with a body are not answered");
        return HandlerResponse::Handled;
    }
    const auto sent = std::count_if(req.headers.begin(), req.headers.end(),
                                    [](const auto& h) { return !added_by_library(h.first); });
    if (static_cast<std::size_t>(sent) > limits_.header_count) {
        refuse(res, 431, "too many header fields");
        return HandlerResponse::Handled;
    }
    if (!host_allowed(req.get_header_value("Host"), access_, connection.local_address)) {
        refuse(res, 403, "unknown host name: start the viewer with --allow-host NAME to use this name");
        return HandlerResponse::Handled;
    }
    if (!from_this_site_or_followed_link(req)) {
        refuse(res, 403, "requests from other sites are not answered");
        return HandlerResponse::Handled;
    }
    if (access_.token.empty()) return HandlerResponse::Unhandled;
    if (req.has_param("token") && same_secret(req.get_param_value("token"), access_.token)) {
        // The token leaves the address bar: from now on the cookie carries it.
        res.set_header("Set-Cookie", std::string(token_cookie) + "=" + access_.token + "; Path=/; HttpOnly; SameSite=Lax");
        res.set_redirect(req.path, 303);
        return HandlerResponse::Handled;
    }
    if (!same_secret(cookie_value(req, token_cookie), access_.token)) {
        refuse(res, 403, "this viewer asks for its token: open it with ?token=...");
        return HandlerResponse::Handled;
    }
    return HandlerResponse::Unhandled;
}

bool view_server::admit(const std::string& client) {
    std::lock_guard<std::mutex> guard(clients_mutex_);
    int& mine = clients_[client];
    if (open_ >= limits_.connections || mine >= limits_.connections_per_client) {
        if (mine == 0) clients_.erase(client);
        return false;
    }
    ++mine;
    ++open_;
    return true;
}

void view_server::leave(const std::string& client) {
    std::lock_guard<std::mutex> guard(clients_mutex_);
    --open_;
    if (--clients_[client] == 0) clients_.erase(client);
}

bool view_server::process_and_close_socket(socket_t sock) {
    struct closer {
        int sock;
        ~closer() {
            ::shutdown(sock, SHUT_RDWR);
            ::close(sock);
        }
    } closing{sock};
    limited_stream stream(sock, limits_);
    const std::string client = address_text(end_address(sock, true));
    if (!admit(client)) {
        stream.begin();
        answer_and_close(stream, 503, "Service Unavailable");
        return false;
    }
    struct leaving {
        view_server& server;
        const std::string& client;
        ~leaving() {
            server.leave(client);
            current_connection = nullptr;
        }
    } left{*this, client};
    connection_state state;
    state.local_address = address_text(end_address(sock, false));
    current_connection = &state;

    for (int served = 0; served < limits_.requests_per_connection && svr_sock_ != INVALID_SOCKET; ++served) {
        if (!stream.next_request()) break;
        bool closed = false;
        const bool last = served + 1 == limits_.requests_per_connection;
        const bool ok = process_request(stream, last, closed, nullptr);
        if (stream.exhausted()) {
            if (!stream.answered()) answer_and_close(stream, 431, "Request Header Fields Too Large");
            state.close = true;
        }
        if (state.close) {
            discard_unread(sock);
            break;
        }
        if (!ok || closed) break;
    }
    return true;
}

}  // namespace vorexctl
