// DataConnections: the packet-data connections (GPRS and the like) that can
// hold a phone modem's radio. The serial port object lists them and hangs one
// up before it opens the built-in phone modem again. The default knows of no
// connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexo {

struct DataConnection {
  std::uint64_t id = 0;
  std::string entryName;
};

class DataConnections {
 public:
  virtual ~DataConnections() = default;
  // Lists the connections; false when they cannot be listed.
  virtual bool Enumerate(std::vector<DataConnection>& connections) = 0;
  virtual bool HangUp(const DataConnection& connection) = 0;
};

class NoDataConnections : public DataConnections {
 public:
  bool Enumerate(std::vector<DataConnection>& connections) override {
    connections.clear();
    return true;
  }
  bool HangUp(const DataConnection&) override { return true; }
};

}  // namespace vexo
