// DesktopBus: broadcasts a short message (an identifier, a command and an
// argument) to every cooperating program of the user, as a signal on the
// user's D-Bus session bus; DesktopBusListener receives them.
//
// Sending never waits long: with no session bus it does nothing and reports
// false at once, and a bus that does not take the message within the send
// timeout is given up. Identifiers come from RegisterSharedName, which every
// program computes alike from a name, so no program has to hand them out.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace brontel {

// The identifier of a message or clipboard-format name shared by the
// cooperating programs: a number from 0xC000 to 0xFFFF that depends only on
// the name, without regard to letter case.
uint32_t RegisterSharedName(const std::string& name);

struct BusMessage {
  uint32_t id = 0;
  uint32_t command = 0;
  uint32_t argument = 0;

  bool operator==(const BusMessage&) const = default;
};

class DesktopBus {
 public:
  // Where the signal travels.
  static constexpr const char* kObjectPath = "/org/brontel/DesktopBus";
  static constexpr const char* kInterface = "org.brontel.DesktopBus";
  static constexpr const char* kMember = "Broadcast";

  static constexpr std::chrono::milliseconds kSendTimeout{1000};

  // Sends message to every listener on the session bus
  // (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus). True once the bus
  // has taken it; false when there is no bus or it does not answer in time.
  static bool Send(const BusMessage& message, std::chrono::milliseconds timeout = kSendTimeout);
};

// Receives the messages that DesktopBus::Send broadcasts, from the moment it
// is constructed.
class DesktopBusListener {
 public:
  // Connects to the session bus and subscribes; IsConnected() tells whether
  // that worked.
  DesktopBusListener();
  ~DesktopBusListener();
  DesktopBusListener(const DesktopBusListener&) = delete;
  DesktopBusListener& operator=(const DesktopBusListener&) = delete;

  bool IsConnected() const { return m_bus != nullptr; }

  // The next message, waiting at most timeout for one to arrive; nothing when
  // none arrives or the listener is not connected.
  std::optional<BusMessage> Next(std::chrono::milliseconds timeout);

 private:
  sd_bus* m_bus = nullptr;
  sd_bus_slot* m_slot = nullptr;
  std::deque<BusMessage> m_received;
};

}  // namespace brontel
