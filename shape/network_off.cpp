// The network shut off with a seccomp filter: socket() of any family but AF_UNIX, and io_uring
// (which can open sockets of its own), fail with EACCES.
#include "shape/network_off.h"

#include <seccomp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

namespace {

struct FilterFree {
  void operator()(void* filter) const { seccomp_release(filter); }
};

}  // namespace

bool TurnNetworkOff() {
  const std::unique_ptr<void, FilterFree> filter(seccomp_init(SCMP_ACT_ALLOW));
  if (!filter) return false;
  const uint32_t refuse = SCMP_ACT_ERRNO(EACCES);
  return seccomp_rule_add(filter.get(), refuse, SCMP_SYS(socket), 1, SCMP_A0(SCMP_CMP_NE, AF_UNIX)) == 0 &&
         seccomp_rule_add(filter.get(), refuse, SCMP_SYS(io_uring_setup), 0) == 0 && seccomp_load(filter.get()) == 0;
}
