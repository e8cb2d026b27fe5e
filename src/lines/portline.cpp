// The line a port uses unless it is given another: the serial line for a
// device (COMn as its system device), a network line for socket:// and
// rfc2217:// names, chosen again by the name at every Open.
#include "lines/portline.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "comm/comport.h"
#include "comm/portname.h"
#include "lines/tcpline.h"
#include "qtserialline.h"

namespace lentar::comm {

namespace {

// The default line of a port: chosen by the name at every Open.
class PortLine : public SerialLine {
 public:
  explicit PortLine(NetworkLineOptions network) : network_(std::move(network)) {}

  void SetHandlers(DataHandler onData, TickHandler onTick) override {
    onData_ = std::move(onData);
    onTick_ = std::move(onTick);
    if (inner_) inner_->SetHandlers(onData_, onTick_);
  }

  bool Open(const std::string& device, const PortConfig& config, std::string& error) override {
    const std::optional<NetworkPortName::Kind> kind = NetworkPortKind(device);
    if (!inner_ || kind != kind_) {
      if (inner_) inner_->Close();
      inner_ = kind ? MakeTcpLine(*kind, network_) : MakeQtSerialLine();
      kind_ = kind;
      inner_->SetHandlers(onData_, onTick_);
      inner_->WatchLineState(watching_);
    }
    if (!kind) {
      if (const auto system = SystemDeviceOfComName(device)) return inner_->Open(*system, config, error);
    }
    return inner_->Open(device, config, error);
  }

  void Close() override {
    if (inner_) inner_->Close();
  }
  bool IsOpen() const override { return inner_ && inner_->IsOpen(); }
  bool Write(const uint8_t* bytes, size_t count) override {
    return inner_ && inner_->Write(bytes, count);
  }
  bool Apply(const PortConfig& config) override { return inner_ && inner_->Apply(config); }
  void SetDTR(bool on) override {
    if (inner_) inner_->SetDTR(on);
  }
  void SetRTS(bool on) override {
    if (inner_) inner_->SetRTS(on);
  }
  bool DSR() override { return inner_ && inner_->DSR(); }
  void Purge() override {
    if (inner_) inner_->Purge();
  }
  std::string CloseReason() const override { return inner_ ? inner_->CloseReason() : std::string(); }
  void WatchLineState(bool on) override {
    watching_ = on;
    if (inner_) inner_->WatchLineState(on);
  }
  std::vector<std::string> ListPorts() override {
    if (inner_ && !kind_) return inner_->ListPorts();
    return MakeQtSerialLine()->ListPorts();
  }

 private:
  const NetworkLineOptions network_;
  std::unique_ptr<SerialLine> inner_;
  // What inner_ is: a network line of that kind, or the serial line when none.
  std::optional<NetworkPortName::Kind> kind_;
  std::atomic<bool> watching_{false};
  DataHandler onData_;
  TickHandler onTick_;
};

}  // namespace

std::unique_ptr<SerialLine> MakePortLine(NetworkLineOptions network) {
  return std::make_unique<PortLine>(std::move(network));
}

LineFactory PortLineFactory(NetworkLineOptions network) {
  return [network = std::move(network)] { return MakePortLine(network); };
}

TComPort::TComPort(bool dtrDefault, bool rtsDefault)
    : TComPort(dtrDefault, rtsDefault, PortLineFactory()) {}

}  // namespace lentar::comm
