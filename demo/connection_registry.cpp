// Shutting a connection's socket down from another thread wakes the thread that polls it, which
// then closes it as a connection its client ended.
#include "demo/connection_registry.h"

#include <sys/ioctl.h>
#include <sys/socket.h>

#include <memory>

struct ConnectionRegistry::Connection {
  int socket = -1;
  uint64_t idleSince = 0;  // key in idle_ while idle
  bool idle = false;
  bool closing = false;
};

namespace {

// Whether the client has sent bytes the server has not read yet: the next request is on its way.
bool RequestArriving(int socket) {
  int unread = 0;
  return ioctl(socket, FIONREAD, &unread) == 0 && unread > 0;
}

}  // namespace

bool ConnectionRegistry::MakeRoom() {
  const std::lock_guard lock(mutex_);
  if (open_ - closing_ < max_) return true;
  auto candidate = idle_.begin();
  while (candidate != idle_.end() && RequestArriving(candidate->second->socket)) ++candidate;
  if (candidate == idle_.end()) return false;
  Connection* longest = candidate->second;
  idle_.erase(candidate);
  longest->idle = false;
  longest->closing = true;
  ++closing_;
  shutdown(longest->socket, SHUT_RDWR);
  return true;
}

ConnectionRegistry::Connection* ConnectionRegistry::Opened(int socket) {
  auto connection = std::make_unique<Connection>();
  connection->socket = socket;
  const std::lock_guard lock(mutex_);
  BecomeIdle(connection.get());
  ++open_;
  return connection.release();
}

void ConnectionRegistry::Closed(Connection* connection) {
  const std::unique_ptr<Connection> owned(connection);
  const std::lock_guard lock(mutex_);
  if (connection->idle) idle_.erase(connection->idleSince);
  if (connection->closing) --closing_;
  --open_;
}

void ConnectionRegistry::Answering(Connection* connection) {
  const std::lock_guard lock(mutex_);
  if (connection->idle) idle_.erase(connection->idleSince);
  connection->idle = false;
}

void ConnectionRegistry::Answered(Connection* connection) {
  const std::lock_guard lock(mutex_);
  if (!connection->idle && !connection->closing) BecomeIdle(connection);
}

void ConnectionRegistry::BecomeIdle(Connection* connection) {
  idle_.emplace(activity_ + 1, connection);
  connection->idleSince = ++activity_;
  connection->idle = true;
}
