#pragma once

#include <pthread.h>

#include <cstdint>
#include <string>
#include <vector>

#include "http_connection.h"
#include "http_request.h"
#include "http_response.h"

namespace caplat::stat {

// What the HTTP server serves: the answer to each request whose head is whole
// and well formed, asked for on the server's thread.
class HttpHandler {
 public:
  virtual ~HttpHandler() = default;

  // The answer to request.
  virtual HttpResponse answer(const HttpRequest& request) = 0;
};

// A small HTTP/1.1 server on a thread of its own, so that the rest of the
// program never waits for a client: one thread polls every connection, each
// bounded in time and in the bytes of its request, and every answer closes
// its connection. A client that matters sends its request as it connects: a
// new connection is read at once, and when the places (or the descriptors)
// run out, the oldest of those answered already, else of those that have had
// their time to send a request, makes room; until one has, new connections
// wait in the listening socket's queue. No flood of other clients keeps it out.
class HttpServer {
 public:
  // The most connections open at once: more than a flood of a few hundred,
  // each a few hundred bytes until it sends, and its request's buffer after.
  static constexpr size_t max_connections = 512;
  // The time a connection has, from its accept to its close, in ns.
  static constexpr int64_t connection_timeout = 5000000000;
  // The time a connection has to send its request before a newer one may
  // take its place, in ns, with all places, and in proportion with fewer, but
  // no less than the least: far more than a client takes that sends it as it
  // connects, while a flood that connects again at once waits in the
  // listening socket's queue, which moves on by a place every half ms.
  static constexpr int64_t request_time = 250000000;
  static constexpr int64_t least_request_time = 20000000;

  // Serves the answers of handler, which must outlive the server.
  explicit HttpServer(HttpHandler* handler);

  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Stops serving and closes every connection.
  ~HttpServer();

  // Binds host:port and starts serving, with as many connections as the
  // descriptors left allow, besides kept that the rest of the program will
  // open; false after reporting why not.
  bool start(const std::string& host, const std::string& port, size_t kept);

 private:
  static void* thread_main(void* server);
  bool listen_on(const std::string& host, const std::string& port);
  void loop();
  int poll_timeout(int64_t now) const;
  void accept_some(int64_t now);
  HttpConnection* make_room(int64_t now);
  void handle(HttpConnection* connection, short revents);
  // Answers the request of connection, whose head stands at status.
  void respond(HttpConnection* connection, HttpRequest::Status status);

  HttpHandler* handler_;
  int listener_ = -1;
  // Written to when the server must stop; its other end wakes the poll.
  int wake_[2] = {-1, -1};
  bool running_ = false;
  pthread_t thread_{};
  // The server thread's own: the places for connections, and when accepting
  // may go on after a failure.
  std::vector<HttpConnection> connections_;
  int64_t accept_after_ = 0;
  int64_t request_time_ = request_time;
};

}  // namespace caplat::stat
