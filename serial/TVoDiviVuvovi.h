// The worker thread of a serial port component: the only place that waits on the port.
// While the port is open it polls the line status, keeps one read and one event wait
// outstanding, watches the outstanding write, cuts the received bytes into clusters and
// turns the port's events into line states and events. Everything it finds is handed to
// the main thread (Synchronize) and it waits until that has run; it never calls a handler
// itself. While the port is closed it idles.
//
// Waits are bounded by 75 ms, the idle pause by 200 ms; both end early when there is
// something to do (data, an event, a finished write, the port opened, termination).
//
// Thread safety: the public members may be called from the main thread while the worker
// runs; everything else is the worker's own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CommPort.h"
#include "serial/TAxSerialCluster.h"
#include "util/ByteString.h"

class TDaVevureRez;

class TVoDiviVuvovi {
 public:
  // Starts the thread at once.
  explicit TVoDiviVuvovi(TDaVevureRez& AOwner);
  // Joins the thread; the owner has had it end first.
  ~TVoDiviVuvovi();
  TVoDiviVuvovi(const TVoDiviVuvovi&) = delete;
  TVoDiviVuvovi& operator=(const TVoDiviVuvovi&) = delete;

  // The thread ends once the port is closed and nothing is outstanding.
  void Terminate();
  // Ends the idle pause early: the port was opened or termination was asked for.
  void Wake();
  // Waits up to `limit` for `done` to hold; the worker signals whenever its running or
  // terminated state changes.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
  // The thread function has returned.
  bool Ended() const { return ended_; }

 private:
  // Counts, on the main thread, that one of this worker's hand-overs is running there.
  struct HandOverScope {
    explicit HandOverScope(TDaVevureRez& owner);
    ~HandOverScope();
    HandOverScope(const HandOverScope&) = delete;
    HandOverScope& operator=(const HandOverScope&) = delete;
    TDaVevureRez& owner_;
  };

  void Execute();
  void ActivePass();
  void PollComState();
  void CheckWrite();
  void StartRead();
  void StartWaitComEvent();
  void FinishRead();
  void FinishComEvent();
  void DispatchComEvents();
  void MakeCluster();
  void SetError(std::uint32_t APlace, std::uint32_t ACode, const ByteString& AMsg,
                std::uint8_t ANoise);
  void ReportPollFailure(std::uint32_t APlace, std::uint32_t ACode, const ByteString& AMsg);
  void ResetWriteSlot();
  void EndWrite();
  void ResetSlot(platform::CommSlot slot);
  void Forget(platform::CommSlot slot);
  // The time left (ms) before the waiting bytes must be cut, at most the 75 ms bound.
  std::uint32_t WaitLimit() const;
  // A pause that ends on news from the port (or on Wake when there is no port).
  void Pause(std::uint32_t ms);
  // Failures of a port that the main thread has closed meanwhile belong to the closing,
  // not to the line: they are not reported.
  // Takes up the port that is open now, dropping what was outstanding on the previous one.
  void FollowPort();
  bool PortIsCurrent() const;
  void Signal();

  // Hand-overs to the main thread.
  void HandOver(void (TVoDiviVuvovi::*Relay)());
  void HandOverEvent(TNotifyEvent TDaVevureRez::*Event);
  void HandOverWriteDone();
  void HandOverHeldWriteDone();
  void SyncReportError();
  void SyncRxCluster();
  void SyncWriteDone();

  TDaVevureRez& Owner;
  // The report being handed over.
  std::uint32_t Place = 0;
  std::uint32_t Code = 0;
  ByteString Msg;
  std::uint8_t Noise = 0;
  // The cluster being handed over.
  std::unique_ptr<TAxSerialCluster> Cluster;
  std::uint32_t WrittenBytes = 0;
  // The token of the write whose completion is being handed over.
  std::uint32_t DoneToken = 0;
  // A write completion that came while the port was being closed, handed over after it:
  // the closing main thread does not serve hand-overs, and waiting for it would stall the
  // closing for its whole bound.
  bool WriteDoneHeld = false;
  // The port of the outstanding write (taken from the component), also after that port
  // was closed, so that the write's real end (it may have drained just before the close)
  // is collected, not taken as lost.
  std::shared_ptr<platform::CommPort> write_port_;
  // The failure the status poll last reported on this port: a device that keeps failing
  // the same way (it has gone) is reported once, not at every poll.
  std::uint32_t PollError = 0;
  std::uint32_t BytesRead = 0;
  platform::CommStat ComStatus;
  std::uint32_t ComErrorCode = 0;
  // Line errors of every poll since the waiting bytes began to arrive: they belong to the
  // next cluster, whichever poll saw them.
  std::uint32_t RxErrors = 0;
  std::uint32_t ComEventFlags = 0;
  std::uint32_t ModemState = 0;
  std::uint32_t RetCode = 0;
  // Tick at which the input queue was last found empty or a read last completed.
  std::uint32_t StartTime = 0;
  std::uint32_t TickTime = 0;
  std::vector<char> Buffer;
  bool WaitForReadEvent = false;
  bool WaitForComEvent = false;
  bool ActiveMode = false;
  bool TerminateMode = false;

  // The port this pass works on; outstanding operations belong to it.
  std::shared_ptr<platform::CommPort> port_;
  // The cluster rule decided to wait for more data; the waiting bytes are due for cutting
  // once the tick count has moved `read_due_` past StartTime.
  bool read_waiting_ = false;
  std::uint32_t read_due_ = 0;
  // The event wait of this pass completed at once with events.
  bool dispatched_ = false;

  std::atomic<bool> terminate_{false};
  std::atomic<bool> ended_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
};
