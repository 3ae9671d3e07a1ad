// The comm-port test double: records every call, fails calls on demand, takes injected
// bytes, events, modem and line states, and lets the test decide how outstanding reads and
// writes end.
//
// Waits run in lockstep with the test: a worker that calls WaitForSlots parks there until
// one of its slots completes (injected data or events, a mask change, a finished read or
// write, closing) or the test releases it. With Parked() and WaitCount() a test can let
// the worker run exactly one pass at a time.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CommPort.h"

namespace platform {

class FakeCommPort final : public CommPort {
 public:
  FakeCommPort();

  // --- Scripting -------------------------------------------------------------------------
  // The named call (e.g. "SetCommState") fails with `error` the next `times` times; a
  // negative count fails it until ClearFailures().
  void Fail(const std::string& call, std::uint32_t error, int times = 1);
  void ClearFailures();

  // Bytes arrive in the input queue (EV_RXCHAR, and EV_RXFLAG for the event character).
  void InjectRx(const std::string& bytes);
  // Events occur (only those of the mask are kept).
  void InjectEvents(std::uint32_t events);
  // Line error bits for the next ClearCommError.
  void InjectLineErrors(std::uint32_t errors);
  void SetModemStatus(std::uint32_t status);
  void SetHoldFlags(std::uint8_t flags);
  void SetOutQueue(std::uint32_t bytes);

  // Reads stay outstanding; CompleteRead ends the outstanding one with `result` (0: the
  // waiting bytes, up to the read's size, are delivered).
  void SetReadsPending(bool pending);
  void CompleteRead(std::uint32_t result = 0);

  // Writes stay outstanding; SetWriteProgress says what the completion poll of the
  // outstanding write reports (0 done, kErrorIoPending or kErrorIoIncomplete while it
  // runs, kErrorOperationAborted or another error) and how many bytes went out.
  void SetWritesPending(bool pending);
  void SetWriteProgress(std::uint32_t result, std::uint32_t transferred);

  // Releases a parked wait (or the next one) with `result`.
  void Release(std::uint32_t result = kWaitTimeout);

  // --- Observation ---------------------------------------------------------------------
  std::vector<std::string> Calls() const;
  // Only the calls made on the thread that created the port (the test's main thread).
  std::vector<std::string> MainCalls() const;
  void ClearCalls();
  int CountCalls(const std::string& prefix) const;
  bool Parked() const;
  int WaitCount() const;
  // The timeout of every wait, in order.
  std::vector<std::uint32_t> WaitTimeouts() const;
  std::string Written() const;
  CommDcb LastDcb() const;
  std::vector<CommTimeouts> TimeoutsSet() const;
  std::uint32_t Mask() const;
  bool Closed() const;
  std::size_t InputQueued() const;

  // --- CommPort ------------------------------------------------------------------------
  std::uint32_t SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) override;
  std::uint32_t GetCommState(CommDcb& dcb) override;
  std::uint32_t SetCommState(const CommDcb& dcb) override;
  std::uint32_t GetCommTimeouts(CommTimeouts& timeouts) override;
  std::uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override;
  std::uint32_t SetCommMask(std::uint32_t mask) override;
  std::uint32_t WaitCommEvent(std::uint32_t& mask) override;
  std::uint32_t ReadFile(void* buffer, std::uint32_t size, std::uint32_t& read) override;
  std::uint32_t WriteFile(const void* data, std::uint32_t size, std::uint32_t& written) override;
  std::uint32_t GetOverlappedResult(CommSlot slot, std::uint32_t& transferred) override;
  std::uint32_t ResetOverlapped(CommSlot slot) override;
  std::uint32_t WaitForSlots(std::initializer_list<CommSlot> slots,
                             std::uint32_t timeout_ms) override;
  std::uint32_t ClearCommError(std::uint32_t& errors, CommStat& stat) override;
  std::uint32_t GetCommModemStatus(std::uint32_t& status) override;
  std::uint32_t EscapeCommFunction(std::uint32_t function) override;
  std::uint32_t SetCommBreak() override;
  std::uint32_t ClearCommBreak() override;
  std::uint32_t PurgeComm(std::uint32_t flags) override;
  std::uint32_t CloseHandle() override;

 private:
  // Records the call and returns its scripted failure, 0 if none. Mutex held.
  std::uint32_t Enter(const std::string& call, const std::string& args = "");
  void Record(std::uint32_t events);
  void Notify();
  bool Signalled(CommSlot slot) const;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  const std::thread::id main_thread_;

  struct Call {
    std::string text;
    bool main;
  };
  std::vector<Call> calls_;
  struct Failure {
    std::uint32_t error;
    int times;
  };
  std::map<std::string, Failure> failures_;

  bool closed_ = false;
  CommDcb dcb_;
  CommTimeouts timeouts_;
  std::vector<CommTimeouts> timeouts_set_;
  std::uint32_t mask_ = 0;
  std::uint32_t history_ = 0;
  std::uint32_t line_errors_ = 0;
  std::uint32_t modem_ = 0;
  std::uint8_t hold_ = 0;
  std::uint32_t out_queue_ = 0;
  std::string input_;

  bool status_waiting_ = false;
  bool status_done_ = false;
  std::uint32_t status_result_ = 0;

  bool reads_pending_ = false;
  bool read_outstanding_ = false;
  bool read_done_ = false;
  std::uint32_t read_result_ = 0;
  char* read_buffer_ = nullptr;
  std::uint32_t read_size_ = 0;
  std::uint32_t read_count_ = 0;

  bool writes_pending_ = false;
  bool write_outstanding_ = false;
  std::uint32_t write_result_ = kErrorIoIncomplete;
  std::uint32_t write_transferred_ = 0;
  std::string written_;

  bool parked_ = false;
  bool release_ = false;
  std::uint32_t release_result_ = kWaitTimeout;
  int wait_count_ = 0;
  std::vector<std::uint32_t> wait_timeouts_;
};

// Ports by path. Each opening of a known path gives a fresh port (or the one prepared with
// Add); a path whose port is open cannot be opened again (EBUSY); unknown paths give ENOENT.
class FakeCommPortFactory final : public CommPortFactory {
 public:
  // Makes `path` known; the returned port is the one the next opening gets.
  std::shared_ptr<FakeCommPort> Add(const std::string& path);
  void FailOpen(const std::string& path, std::uint32_t error);
  // The port of the latest opening of `path`, null if none.
  std::shared_ptr<FakeCommPort> Port(const std::string& path) const;
  std::vector<std::string> Opened() const;

  std::shared_ptr<CommPort> Open(const std::string& path, std::uint32_t& error) override;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<std::shared_ptr<FakeCommPort>>> prepared_;
  std::map<std::string, std::shared_ptr<FakeCommPort>> latest_;
  std::map<std::string, std::uint32_t> open_failures_;
  std::vector<std::string> opened_;
};

}  // namespace platform
