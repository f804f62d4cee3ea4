#include "web/connection_admission.h"

#include <arpa/inet.h>

namespace lun {

bool IsLoopbackAddress(const std::string& address) {
  in_addr parsed{};
  return inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

bool ConnectionAdmission::Admit(const std::string& address) {
  if (total_ >= limits_.max_connections) return false;
  if (IsLoopbackAddress(address)) {
    ++total_;
    return true;
  }
  const size_t remote_places = limits_.max_connections > limits_.loopback_reserve
                                   ? limits_.max_connections - limits_.loopback_reserve
                                   : 0;
  size_t& held = per_remote_address_[address];
  if (remote_ >= remote_places || held >= limits_.max_per_remote_address) {
    if (held == 0) per_remote_address_.erase(address);
    return false;
  }
  ++held;
  ++remote_;
  ++total_;
  return true;
}

void ConnectionAdmission::Release(const std::string& address) {
  if (total_ > 0) --total_;
  if (IsLoopbackAddress(address)) return;
  const auto found = per_remote_address_.find(address);
  if (found == per_remote_address_.end()) return;
  if (remote_ > 0) --remote_;
  if (--found->second == 0) per_remote_address_.erase(found);
}

}  // namespace lun
