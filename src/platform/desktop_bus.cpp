#include "brontel/platform/desktop_bus.h"

#include <systemd/sd-bus.h>

#include <cctype>
#include <memory>

namespace brontel {
namespace {

constexpr uint32_t kFirstSharedId = 0xC000;
constexpr uint32_t kSharedIdCount = 0x4000;

// How long the listener waits for the bus to accept its subscription.
constexpr std::chrono::seconds kSubscribeTimeout{5};

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

uint64_t Microseconds(std::chrono::steady_clock::duration duration) {
  const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
  return usec > 0 ? static_cast<uint64_t>(usec) : 1;
}

// Runs the connection's set-up (authentication and greeting) until the bus
// is ready for calls or deadline passes. sd-bus would otherwise wait for the
// set-up on its own terms, up to a minute and a half.
bool WaitUntilReady(sd_bus* bus, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const int ready = sd_bus_is_ready(bus);
    if (ready != 0) return ready > 0;
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return false;
    if (processed > 0) continue;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    if (sd_bus_wait(bus, Microseconds(left)) < 0) return false;
  }
}

std::string MatchRule() {
  return std::string("type='signal',path='") + DesktopBus::kObjectPath + "',interface='" +
         DesktopBus::kInterface + "',member='" + DesktopBus::kMember + "'";
}

// Adds a received signal to the listener's queue (userData).
int QueueSignal(sd_bus_message* message, void* userData, sd_bus_error* /*error*/) {
  BusMessage received;
  // A signal of the right name with other contents is not one of ours.
  if (sd_bus_message_read(message, "uuu", &received.id, &received.command, &received.argument) >=
      0) {
    static_cast<std::deque<BusMessage>*>(userData)->push_back(received);
  }
  return 0;
}

}  // namespace

uint32_t RegisterSharedName(const std::string& name) {
  // FNV-1a over the lower-cased bytes, folded into the range.
  uint32_t hash = 2166136261u;
  for (char c : name) {
    hash ^= static_cast<uint8_t>(std::tolower(static_cast<unsigned char>(c)));
    hash *= 16777619u;
  }
  return kFirstSharedId + hash % kSharedIdCount;
}

bool DesktopBus::Send(const BusMessage& message, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return false;
  BusPtr bus(raw);
  if (!WaitUntilReady(bus.get(), deadline)) return false;
  if (sd_bus_emit_signal(bus.get(), kObjectPath, kInterface, kMember, "uuu", message.id,
                         message.command, message.argument) < 0) {
    return false;
  }
  // The bus handles a connection's messages in order, so once it answers a call
  // sent after the signal, the signal has gone out to every listener.
  sd_bus_message* rawCall = nullptr;
  if (sd_bus_message_new_method_call(bus.get(), &rawCall, "org.freedesktop.DBus",
                                     "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetId") < 0) {
    return false;
  }
  MessagePtr call(rawCall);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* rawReply = nullptr;
  const int result =
      sd_bus_call(bus.get(), call.get(), Microseconds(deadline - std::chrono::steady_clock::now()),
                  &error, &rawReply);
  MessagePtr reply(rawReply);
  sd_bus_error_free(&error);
  return result >= 0;
}

DesktopBusListener::DesktopBusListener() {
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return;
  BusPtr bus(raw);
  if (!WaitUntilReady(bus.get(), std::chrono::steady_clock::now() + kSubscribeTimeout)) return;
  sd_bus_set_method_call_timeout(bus.get(), Microseconds(kSubscribeTimeout));
  if (sd_bus_add_match(bus.get(), &m_slot, MatchRule().c_str(), &QueueSignal, &m_received) < 0) {
    m_slot = nullptr;
    return;
  }
  m_bus = bus.release();
}

DesktopBusListener::~DesktopBusListener() {
  sd_bus_slot_unref(m_slot);
  sd_bus_close_unref(m_bus);
}

std::optional<BusMessage> DesktopBusListener::Next(std::chrono::milliseconds timeout) {
  if (m_bus == nullptr) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (m_received.empty()) {
    const int processed = sd_bus_process(m_bus, nullptr);
    if (processed < 0) break;
    if (processed > 0) continue;  // more may be waiting already
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) break;
    if (sd_bus_wait(m_bus, Microseconds(left)) < 0) break;
  }
  if (m_received.empty()) return std::nullopt;
  BusMessage next = m_received.front();
  m_received.pop_front();
  return next;
}

}  // namespace brontel
