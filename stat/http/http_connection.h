#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http_request.h"
#include "http_response.h"

namespace caplat::stat {

// One client of the HTTP server: its request head as it arrives, then the
// answer as the socket takes it, then whatever the client still sends, read
// and dropped until it closes, so that closing does not cut the answer short.
// A deadline bounds it all.
class HttpConnection {
 public:
  // What the connection waits for.
  enum State { Closed, Reading, Writing, Draining };

  HttpConnection() = default;
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;
  ~HttpConnection() { close(); }

  // Takes the accepted, non-blocking socket fd, whose time is up at deadline.
  void open(int fd, int64_t deadline);

  // Closes the socket and lets go of what it held.
  void close();

  // Where it stands, its socket, and when its time is up.
  State state() const { return state_; }
  int fd() const { return fd_; }
  int64_t deadline() const { return deadline_; }

  // The events of poll(2) that it waits for.
  short events() const;

  // Reads what arrived while Reading; returns where the head stands,
  // Incomplete until it has ended (or if the client has gone, closing).
  HttpRequest::Status read();

  // The request read, once read() has found it Whole, until the answer.
  const HttpRequest& request() const { return *request_; }

  // Starts sending response.
  void answer(HttpResponse response);

  // Sends what the socket takes while Writing; once all is sent, ends its
  // side of the connection and drains.
  void write();

  // Reads and drops what arrives while Draining, closing at the client's end.
  void drain();

 private:
  State state_ = Closed;
  int fd_ = -1;
  int64_t deadline_ = 0;
  // Held from the first bytes received to the answer.
  std::unique_ptr<HttpRequest> request_;
  HttpResponse response_;
  size_t sent_ = 0;
};

}  // namespace caplat::stat
