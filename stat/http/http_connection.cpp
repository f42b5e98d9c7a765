#include "http_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace caplat::stat {

void HttpConnection::open(int fd, int64_t deadline) {
  close();
  fd_ = fd;
  deadline_ = deadline;
  state_ = Reading;
}

void HttpConnection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  state_ = Closed;
  request_.reset();
  response_.head.clear();
  response_.head.shrink_to_fit();
  response_.body.reset();
  sent_ = 0;
}

short HttpConnection::events() const {
  return state_ == Writing ? POLLOUT : POLLIN;
}

HttpRequest::Status HttpConnection::read() {
  // The buffer comes with the first bytes: a connection that sends nothing
  // costs little.
  if (request_ == nullptr) {
    char first;
    ssize_t n = recv(fd_, &first, 1, MSG_PEEK);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return HttpRequest::Incomplete;
    request_ = std::make_unique<HttpRequest>();
  }
  ssize_t n = recv(fd_, request_->space(), request_->room(), 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return HttpRequest::Incomplete;
  if (n <= 0) {
    close();
    return HttpRequest::Incomplete;
  }
  return request_->received(static_cast<size_t>(n));
}

void HttpConnection::answer(HttpResponse response) {
  request_.reset();
  response_ = std::move(response);
  sent_ = 0;
  state_ = Writing;
  write();
}

void HttpConnection::write() {
  const std::string& head = response_.head;
  const std::string* body = response_.body.get();
  size_t total = head.size() + (body != nullptr ? body->size() : 0);
  while (sent_ < total) {
    // The head, then the body, as one stream of bytes.
    bool in_head = sent_ < head.size();
    const char* from = in_head ? head.data() + sent_ : body->data() + (sent_ - head.size());
    size_t left = in_head ? head.size() - sent_ : total - sent_;
    ssize_t n = send(fd_, from, left, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n < 0) {
      close();
      return;
    }
    sent_ += static_cast<size_t>(n);
  }
  shutdown(fd_, SHUT_WR);
  state_ = Draining;
}

void HttpConnection::drain() {
  // A few reads at a time, so that a client that keeps sending cannot hold
  // the server from the others.
  constexpr int reads = 16;
  char dropped[4096];
  for (int i = 0; i < reads; ++i) {
    ssize_t n = recv(fd_, dropped, sizeof dropped, 0);
    if (n > 0 || (n < 0 && errno == EINTR)) continue;
    if (n < 0 && errno == EAGAIN) return;
    close();
    return;
  }
}

}  // namespace caplat::stat
