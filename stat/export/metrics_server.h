#pragma once

#include <pthread.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "exposition.h"
#include "http_connection.h"
#include "metrics_publisher.h"
#include "metrics_snapshot.h"

namespace caplat::stat {

// Serves GET /metrics over HTTP from a thread of its own, so that the reader
// never waits for a client: one thread polls every connection, each bounded
// in time and in the bytes of its request, and every answer closes its
// connection. A scraper sends its request as it connects: a new connection
// is read at once, and when the places (or the descriptors) run out, the
// oldest of those answered already, else of those that have had their time
// to send a request, makes room; until one has, new connections wait in the
// listening socket's queue. No flood of other clients keeps a scraper out.
class MetricsServer {
 public:
  // The most connections open at once: more than a flood of a few hundred,
  // each a few hundred bytes until it sends, and its request's buffer after.
  static constexpr size_t max_connections = 512;
  // Descriptors left to the reader beside those it will open later: its
  // outputs, and the temporary file of --prom.
  static constexpr size_t reader_descriptors = 8;
  // The time a connection has, from its accept to its close, in ns.
  static constexpr int64_t connection_timeout = 5000000000;
  // The time a connection has to send its request before a newer one may
  // take its place, in ns, with all places, and in proportion with fewer, but
  // no less than the least: far more than a scraper takes, which sends it as
  // it connects, while a flood that connects again at once waits in the
  // listening socket's queue, which moves on by a place every half ms.
  static constexpr int64_t request_time = 250000000;
  static constexpr int64_t least_request_time = 20000000;

  // Serves the snapshots of publisher as exposition writes them; both must
  // outlive the server.
  MetricsServer(MetricsPublisher* publisher, const Exposition& exposition);

  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Stops serving and closes every connection.
  ~MetricsServer();

  // Binds host:port and starts serving, with as many connections as the
  // descriptors left allow, besides later_files that the reader will open;
  // false after reporting why not.
  bool start(const std::string& host, const std::string& port, size_t later_files);

 private:
  static void* thread_main(void* server);
  bool listen_on(const std::string& host, const std::string& port);
  void loop();
  int poll_timeout(int64_t now) const;
  void accept_some(int64_t now);
  HttpConnection* make_room(int64_t now);
  void handle(HttpConnection* connection, short revents);
  void answer(HttpConnection* connection, HttpRequest::Answer answer);
  std::shared_ptr<const std::string> text();

  MetricsPublisher* publisher_;
  const Exposition& exposition_;
  int listener_ = -1;
  // Written to when the server must stop; its other end wakes the poll.
  int wake_[2] = {-1, -1};
  bool running_ = false;
  pthread_t thread_{};
  // The server thread's own: the places for connections, when accepting may
  // go on after a failure, and the latest snapshot and its text.
  std::vector<HttpConnection> connections_;
  int64_t accept_after_ = 0;
  int64_t request_time_ = request_time;
  MetricsSnapshot snapshot_;
  uint64_t generation_ = 0;
  std::shared_ptr<const std::string> text_;
};

}  // namespace caplat::stat
