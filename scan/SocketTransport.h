#pragma once
// The sweep's transport over one real echo socket with the discovery payload.

#include <signal.h>

#include "net/linux/EchoSocket.h"
#include "scan/EchoTransport.h"

namespace zn7qx::scan {

class SocketTransport final : public EchoTransport {
 public:
  // waitMask, when given, is the signal mask inside Wait: signals blocked
  // outside it and let through there end the wait however close they come.
  explicit SocketTransport(linuxnet::EchoSocket socket, const sigset_t* waitMask = nullptr);

  Clock::time_point Now() override { return Clock::now(); }
  std::uint16_t Identifier() const override { return socket_.identifier(); }
  std::int32_t Send(std::uint32_t destNetworkOrder, std::uint16_t sequence) override;
  int LastSendErrno() const override { return lastSendErrno_; }
  std::optional<linuxnet::EchoEvent> Receive() override { return socket_.ReceiveOne(); }
  bool Readable() override;
  void Wait(Clock::time_point until) override;
  int fd() const { return socket_.fd(); }
  const sigset_t* waitMask() const { return waitMask_; }

 private:
  linuxnet::EchoSocket socket_;
  const sigset_t* waitMask_;
  int lastSendErrno_ = 0;
};

// Asks for large socket buffers so that a burst of replies is not dropped
// while the sweep is busy sending; the kernel caps what it grants.
void EnlargeSocketBuffers(int fd);

}  // namespace zn7qx::scan
