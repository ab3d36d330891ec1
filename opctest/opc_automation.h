// The OPC DA automation object model as ravolin uses it: the server object,
// its group collection, a group and a group's item collection, with exactly
// the members the client calls. Two backends implement it: the simulated
// server (sim_server.h) and a shared library loaded at run time
// (automation_library.h); automation_server.h picks one by ProgID.
//
// Arrays that the automation interface indexes from 1 are plain vectors here,
// indexed from 0: element 0 is the automation interface's element 1.
// Every member reports failure by throwing OpcError, which carries the
// description a user is shown.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace opcda {

// An automation date: days since 30 December 1899, the fraction being the
// time of day (local time, no zone), exactly as the automation layer passes it.
struct Date {
  double value = 0.0;
  friend bool operator==(const Date&, const Date&) = default;
};

// The automation "Null" value (distinct from Empty, which is std::monostate).
struct Null {
  friend bool operator==(const Null&, const Null&) = default;
};

// The values an item can carry across the automation interface.
using Variant =
    std::variant<std::monostate, Null, bool, std::int64_t, double, std::string, Date>;

// A failure reported by any member of the model. `Number` is the automation
// error number (an HRESULT); `Description` is the text for the user.
class OpcError : public std::runtime_error {
 public:
  static constexpr std::int32_t kUnspecified = static_cast<std::int32_t>(0x80004005u);

  explicit OpcError(const std::string& description, std::int32_t number = kUnspecified)
      : std::runtime_error(description), number_(number) {}

  std::string Description() const { return what(); }
  std::int32_t Number() const { return number_; }

 private:
  std::int32_t number_;
};

// Arguments of the group's DataChange event. The vectors hold NumItems
// elements when the server behaves; a client must not rely on that.
struct DataChangeEvent {
  std::int32_t TransactionID = 0;
  std::int32_t NumItems = 0;
  std::vector<std::int32_t> ClientHandles;
  std::vector<Variant> ItemValues;
  std::vector<std::int32_t> Qualities;
  std::vector<Date> TimeStamps;
};

// Receives DataChange. A backend may call it on any thread; a client that
// needs the event in its own thread queues it there itself.
using DataChangeHandler = std::function<void(const DataChangeEvent&)>;

class OPCItems {
 public:
  virtual ~OPCItems() = default;

  // Adds NumItems items. ServerHandles and Errors are replaced by NumItems
  // elements each; an item the server refuses gets server handle 0 and a
  // non-zero error. RequestedDataTypes and AccessPaths are optional.
  virtual void AddItems(std::int32_t NumItems, const std::vector<std::string>& ItemIDs,
                        const std::vector<std::int32_t>& ClientHandles,
                        std::vector<std::int32_t>& ServerHandles,
                        std::vector<std::int32_t>& Errors,
                        const std::vector<std::int16_t>* RequestedDataTypes = nullptr,
                        const std::vector<std::string>* AccessPaths = nullptr) = 0;

  // Number of items in the collection (read).
  virtual std::int32_t Count() = 0;
};

class OPCGroup {
 public:
  virtual ~OPCGroup() = default;

  // The group's item collection (read).
  virtual std::shared_ptr<opcda::OPCItems> OPCItems() = 0;

  // Turns DataChange events on or off (write).
  virtual void IsSubscribed(bool value) = 0;

  // Writes NumItems values synchronously. Errors is replaced by NumItems
  // per-item results.
  virtual void SyncWrite(std::int32_t NumItems, const std::vector<std::int32_t>& ServerHandles,
                         const std::vector<Variant>& Values,
                         std::vector<std::int32_t>& Errors) = 0;

  // Connects the DataChange event to a handler (an empty handler disconnects).
  // Once this returns, the previous handler is not called any more.
  virtual void ConnectDataChange(DataChangeHandler handler) = 0;
};

class OPCGroups {
 public:
  virtual ~OPCGroups() = default;

  // Whether groups added from now on are active (write).
  virtual void DefaultGroupIsActive(bool value) = 0;

  // Adds a group by name and returns it.
  virtual std::shared_ptr<OPCGroup> Add(const std::string& Name) = 0;

  // Removes every group of the collection.
  virtual void RemoveAll() = 0;
};

class OPCServer {
 public:
  virtual ~OPCServer() = default;

  // Connects to the OPC DA server registered as ProgID on the computer Node.
  virtual void Connect(const std::string& ProgID, const std::string& Node) = 0;

  // The server's group collection (read).
  virtual std::shared_ptr<opcda::OPCGroups> OPCGroups() = 0;

  // When the server last sent data to this client (read).
  virtual Date LastUpdateTime() = 0;

  // The server's state (read); 1 is the running state.
  virtual std::int32_t ServerState() = 0;

  virtual void Disconnect() = 0;
};

// Creates a new, not yet connected server object.
using ServerFactory = std::function<std::shared_ptr<OPCServer>()>;

// Automation error numbers the backends report.
inline constexpr std::int32_t kErrorInvalidHandle = static_cast<std::int32_t>(0xC0040001u);
inline constexpr std::int32_t kErrorUnknownItemId = static_cast<std::int32_t>(0xC0040007u);
inline constexpr std::int32_t kErrorDuplicateName = static_cast<std::int32_t>(0xC004000Cu);
inline constexpr std::int32_t kErrorInvalidArgument = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t kErrorClassNotRegistered = static_cast<std::int32_t>(0x80040154u);
inline constexpr std::int32_t kErrorModuleNotFound = static_cast<std::int32_t>(0x8007007Eu);
inline constexpr std::int32_t kErrorNotConnected = static_cast<std::int32_t>(0x8004020Cu);

}  // namespace opcda
