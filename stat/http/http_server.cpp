#include "http_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "monotonic.h"
#include "report.h"

namespace caplat::stat {

namespace {

// How long accepting waits after a failure such as running out of
// descriptors, rather than trying again at once without end.
constexpr int64_t accept_pause = 100 * ns_per_ms;

// The descriptors that this process may still open: its limit less those
// open now; max_connections where the limit or the count is not known.
size_t descriptors_left() {
  rlimit files{};
  DIR* folder = opendir("/proc/self/fd");
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || folder == nullptr) {
    if (folder != nullptr) closedir(folder);
    return HttpServer::max_connections;
  }
  // The folder's own descriptor is among those listed, as are . and ..
  size_t open = 0;
  while (readdir(folder) != nullptr) ++open;
  closedir(folder);
  open = open >= 3 ? open - 3 : 0;
  return files.rlim_cur > open ? static_cast<size_t>(files.rlim_cur - open) : 0;
}

// The host and port as messages name them, an IPv6 host in brackets.
std::string address(const std::string& host, const std::string& port) {
  return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
}

}  // namespace

HttpServer::HttpServer(HttpHandler* handler) : handler_(handler) {}

HttpServer::~HttpServer() {
  if (running_) {
    char stop = 0;
    while (::write(wake_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    pthread_join(thread_, nullptr);
  }
  for (int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool HttpServer::listen_on(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    report_file(address(host, port).c_str(), gai_strerror(status));
    return false;
  }
  int error = 0;
  for (addrinfo* a = found; a != nullptr && listener_ < 0; a = a->ai_next) {
    int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    int on = 1;
    // A restart binds again at once, without waiting out the last run's
    // closed connections.
    if (fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
      listener_ = fd;
    } else {
      error = errno;
      if (fd >= 0) close(fd);
    }
  }
  freeaddrinfo(found);
  if (listener_ < 0) report_file(address(host, port).c_str(), strerror(error));
  return listener_ >= 0;
}

bool HttpServer::start(const std::string& host, const std::string& port, size_t kept) {
  if (!listen_on(host, port)) return false;
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    report_file(address(host, port).c_str(), strerror(errno));
    return false;
  }
  // Many descriptors kept, or a low limit, leave fewer places; one at least,
  // which a client takes from whatever holds it.
  size_t left = descriptors_left();
  connections_ = std::vector<HttpConnection>(
      std::clamp<size_t>(left > kept ? left - kept : 0, 1, max_connections));
  request_time_ =
      std::max(least_request_time, request_time * static_cast<int64_t>(connections_.size()) /
                                       static_cast<int64_t>(max_connections));
  // Signals go to the program's other threads.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  int error = pthread_create(&thread_, nullptr, thread_main, this);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (error != 0) {
    report_file(address(host, port).c_str(), strerror(error));
    return false;
  }
  running_ = true;
  return true;
}

void* HttpServer::thread_main(void* server) {
  static_cast<HttpServer*>(server)->loop();
  return nullptr;
}

int HttpServer::poll_timeout(int64_t now) const {
  int64_t until = INT64_MAX;
  for (const HttpConnection& c : connections_) {
    if (c.state() != HttpConnection::Closed) until = std::min(until, c.deadline());
  }
  if (accept_after_ > now) until = std::min(until, accept_after_);
  if (until == INT64_MAX) return -1;
  // Rounded up, so that the deadline has passed when poll returns.
  return wait_ms(until - now);
}

void HttpServer::loop() {
  std::vector<pollfd> fds;
  std::vector<HttpConnection*> polled;
  for (;;) {
    int64_t now = monotonic_ns();
    for (HttpConnection& c : connections_) {
      if (c.state() != HttpConnection::Closed && c.deadline() <= now) c.close();
    }
    short accepting = now >= accept_after_ ? POLLIN : 0;
    fds.assign({{wake_[0], POLLIN, 0}, {listener_, accepting, 0}});
    polled.clear();
    for (HttpConnection& c : connections_) {
      if (c.state() == HttpConnection::Closed) continue;
      fds.push_back({c.fd(), c.events(), 0});
      polled.push_back(&c);
    }
    if (poll(fds.data(), fds.size(), poll_timeout(now)) < 0) continue;
    if (fds[0].revents != 0) return;
    for (size_t i = 0; i < polled.size(); ++i) {
      if (fds[i + 2].revents != 0) handle(polled[i], fds[i + 2].revents);
    }
    if (fds[1].revents != 0) accept_some(monotonic_ns());
  }
}

void HttpServer::accept_some(int64_t now) {
  // A few at a time, so that a connection accepted is read before so many
  // more come that it would be the oldest.
  for (size_t accepted = 0; accepted < connections_.size() / 4 + 1;) {
    // Without a place to give, the next connections wait in the listening
    // socket's queue, where a client's request arrives whole.
    HttpConnection* place = make_room(now);
    if (place == nullptr) return;
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    // Out of descriptors, the connection in that place makes room for the
    // next; with none to close, accepting pauses.
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) &&
        place->state() != HttpConnection::Closed) {
      place->close();
      continue;
    }
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) accept_after_ = now + accept_pause;
      return;
    }
    place->open(fd, now + connection_timeout);
    // A client's request is there as it connects: it is answered now.
    handle(place, 0);
    ++accepted;
  }
}

HttpConnection* HttpServer::make_room(int64_t now) {
  // A free place, else that of the oldest connection answered already, else
  // of the oldest one still reading (then writing) among those that have had
  // their time to send a request.
  auto rank = [](const HttpConnection& c) {
    int state = c.state() == HttpConnection::Draining  ? 0
                : c.state() == HttpConnection::Reading ? 1
                                                       : 2;
    return std::make_pair(state, c.deadline());
  };
  HttpConnection* place = nullptr;
  // When the first of those that have not had their time will have had it.
  int64_t ready = INT64_MAX;
  for (HttpConnection& c : connections_) {
    if (c.state() == HttpConnection::Closed) return &c;
    int64_t had = c.deadline() - connection_timeout + request_time_;
    if (c.state() != HttpConnection::Draining && had > now) {
      ready = std::min(ready, had);
    } else if (place == nullptr || rank(c) < rank(*place)) {
      place = &c;
    }
  }
  if (place == nullptr) accept_after_ = ready;
  return place;
}

void HttpServer::handle(HttpConnection* connection, short revents) {
  switch (connection->state()) {
    case HttpConnection::Reading: {
      HttpRequest::Status status = connection->read();
      if (status != HttpRequest::Incomplete) respond(connection, status);
      break;
    }
    case HttpConnection::Writing:
      connection->write();
      break;
    case HttpConnection::Draining:
      connection->drain();
      break;
    case HttpConnection::Closed:
      break;
  }
  if ((revents & POLLNVAL) != 0) connection->close();
}

void HttpServer::respond(HttpConnection* connection, HttpRequest::Status status) {
  switch (status) {
    case HttpRequest::Whole:
      connection->answer(handler_->answer(connection->request()));
      break;
    case HttpRequest::TooLarge:
      connection->answer(
          http_plain("431 Request Header Fields Too Large", "the request is too large\n"));
      break;
    case HttpRequest::BadRequest:
    case HttpRequest::Incomplete:
      connection->answer(http_plain("400 Bad Request", "not an HTTP/1 request\n"));
      break;
  }
}

}  // namespace caplat::stat
