// The server's open connections, ordered by how long each has been idle, so that a connection
// beyond the limit takes the place of the one idle the longest instead of being turned away.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

class ConnectionRegistry {
 public:
  struct Connection;

  explicit ConnectionRegistry(unsigned maxConnections) : max_(maxConnections) {}
  ConnectionRegistry(const ConnectionRegistry&) = delete;
  ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;
  unsigned Max() const { return max_; }

  // Whether one more connection may open: yes below the limit, or once the connection idle the
  // longest has been shut down to make room; one whose next request is already arriving is not
  // taken. No when every connection has a request in progress.
  bool MakeRoom();

  // A connection on this socket opened; it counts as idle from now. The record lives until Closed.
  Connection* Opened(int socket);
  // Called before the socket is closed, so that MakeRoom never shuts down a reused descriptor.
  void Closed(Connection* connection);
  // Its answer is being made and sent: it is not taken while that lasts.
  void Answering(Connection* connection);
  // Its answer is sent; it counts as idle from now.
  void Answered(Connection* connection);

 private:
  void BecomeIdle(Connection* connection);

  const unsigned max_;
  std::mutex mutex_;
  unsigned open_ = 0;
  unsigned closing_ = 0;  // shut down by MakeRoom, not closed yet
  uint64_t activity_ = 0;
  std::map<uint64_t, Connection*> idle_;  // by the moment each became idle, the longest first
};
