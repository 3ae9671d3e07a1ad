#include "platform/FakeCommPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace platform {

using namespace comm;

namespace {
const char* SlotName(CommSlot slot) {
  switch (slot) {
    case CommSlot::Write:
      return "Write";
    case CommSlot::Read:
      return "Read";
    case CommSlot::Status:
      return "Status";
  }
  return "?";
}

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

// "(a,b)" for the call log. Built by appending: "(" + std::string trips a false
// -Wrestrict of GCC 12 at -O3.
std::string Args(std::initializer_list<std::string> parts) {
  std::string text = "(";
  bool first = true;
  for (const std::string& part : parts) {
    if (!first) text += ',';
    first = false;
    text += part;
  }
  text += ')';
  return text;
}
}  // namespace

FakeCommPort::FakeCommPort() : main_thread_(std::this_thread::get_id()) {
  // What a driver might hold before the component writes its settings.
  dcb_.BaudRate = 1200;
  dcb_.ByteSize = 7;
  dcb_.Parity = EVENPARITY;
  dcb_.StopBits = TWOSTOPBITS;
  dcb_.Flags = 0xFFFF;
  dcb_.EofChar = 0x1A;
  timeouts_ = {1, 2, 3, 4, 5};
}

// --- Scripting -------------------------------------------------------------------------

void FakeCommPort::Fail(const std::string& call, std::uint32_t error, int times) {
  std::lock_guard lock(mutex_);
  failures_[call] = {error, times};
}

void FakeCommPort::ClearFailures() {
  std::lock_guard lock(mutex_);
  failures_.clear();
}

void FakeCommPort::InjectRx(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  if (bytes.empty()) return;
  input_ += bytes;
  std::uint32_t events = EV_RXCHAR;
  if (bytes.find(dcb_.EvtChar) != std::string::npos) events |= EV_RXFLAG;
  Record(events);
}

void FakeCommPort::InjectEvents(std::uint32_t events) {
  std::lock_guard lock(mutex_);
  Record(events);
}

void FakeCommPort::InjectLineErrors(std::uint32_t errors) {
  std::lock_guard lock(mutex_);
  line_errors_ |= errors;
}

void FakeCommPort::SetModemStatus(std::uint32_t status) {
  std::lock_guard lock(mutex_);
  modem_ = status;
}

void FakeCommPort::SetHoldFlags(std::uint8_t flags) {
  std::lock_guard lock(mutex_);
  hold_ = flags;
}

void FakeCommPort::SetOutQueue(std::uint32_t bytes) {
  std::lock_guard lock(mutex_);
  out_queue_ = bytes;
}

void FakeCommPort::SetReadsPending(bool pending) {
  std::lock_guard lock(mutex_);
  reads_pending_ = pending;
}

void FakeCommPort::CompleteRead(std::uint32_t result) {
  std::lock_guard lock(mutex_);
  if (!read_outstanding_) return;
  read_outstanding_ = false;
  read_done_ = true;
  read_result_ = result;
  read_count_ = 0;
  if (result == 0) {
    const std::size_t n = std::min<std::size_t>(read_size_, input_.size());
    std::memcpy(read_buffer_, input_.data(), n);
    input_.erase(0, n);
    read_count_ = static_cast<std::uint32_t>(n);
  }
  Notify();
}

void FakeCommPort::SetWritesPending(bool pending) {
  std::lock_guard lock(mutex_);
  writes_pending_ = pending;
}

void FakeCommPort::SetWriteProgress(std::uint32_t result, std::uint32_t transferred) {
  std::lock_guard lock(mutex_);
  write_result_ = result;
  write_transferred_ = transferred;
  Notify();
}

void FakeCommPort::Release(std::uint32_t result) {
  std::lock_guard lock(mutex_);
  release_ = true;
  release_result_ = result;
  Notify();
}

// --- Observation -----------------------------------------------------------------------

std::vector<std::string> FakeCommPort::Calls() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_) out.push_back(c.text);
  return out;
}

std::vector<std::string> FakeCommPort::MainCalls() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : calls_)
    if (c.main) out.push_back(c.text);
  return out;
}

void FakeCommPort::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

int FakeCommPort::CountCalls(const std::string& prefix) const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const auto& c : calls_)
    if (c.text.rfind(prefix, 0) == 0) ++n;
  return n;
}

bool FakeCommPort::Parked() const {
  std::lock_guard lock(mutex_);
  return parked_;
}

int FakeCommPort::WaitCount() const {
  std::lock_guard lock(mutex_);
  return wait_count_;
}

std::vector<std::uint32_t> FakeCommPort::WaitTimeouts() const {
  std::lock_guard lock(mutex_);
  return wait_timeouts_;
}

std::string FakeCommPort::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

CommDcb FakeCommPort::LastDcb() const {
  std::lock_guard lock(mutex_);
  return dcb_;
}

std::vector<CommTimeouts> FakeCommPort::TimeoutsSet() const {
  std::lock_guard lock(mutex_);
  return timeouts_set_;
}

std::uint32_t FakeCommPort::Mask() const {
  std::lock_guard lock(mutex_);
  return mask_;
}

bool FakeCommPort::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::size_t FakeCommPort::InputQueued() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

// --- Internals -------------------------------------------------------------------------

std::uint32_t FakeCommPort::Enter(const std::string& call, const std::string& args) {
  calls_.push_back({call + args, std::this_thread::get_id() == main_thread_});
  auto it = failures_.find(call);
  if (it != failures_.end()) {
    const std::uint32_t error = it->second.error;
    if (it->second.times > 0 && --it->second.times == 0) failures_.erase(it);
    return error;
  }
  if (closed_ && call != "GetOverlappedResult" && call != "ResetOverlapped" &&
      call != "WaitForSlots")
    return EBADF;
  return 0;
}

void FakeCommPort::Record(std::uint32_t events) {
  history_ |= events & mask_;
  if (status_waiting_ && history_ != 0) {
    status_waiting_ = false;
    status_done_ = true;
    status_result_ = history_;
    history_ = 0;
  }
  Notify();
}

// A parked wait is about to look again; it parks anew if nothing concerns it.
void FakeCommPort::Notify() {
  parked_ = false;
  cv_.notify_all();
}

bool FakeCommPort::Signalled(CommSlot slot) const {
  switch (slot) {
    case CommSlot::Status:
      return status_done_;
    case CommSlot::Read:
      return read_done_;
    case CommSlot::Write:
      return write_outstanding_ && write_result_ != kErrorIoIncomplete &&
             write_result_ != kErrorIoPending;
  }
  return false;
}

// --- CommPort --------------------------------------------------------------------------

std::uint32_t FakeCommPort::SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) {
  std::lock_guard lock(mutex_);
  return Enter("SetupComm", Args({std::to_string(in_queue), std::to_string(out_queue)}));
}

std::uint32_t FakeCommPort::GetCommState(CommDcb& dcb) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("GetCommState")) return error;
  dcb = dcb_;
  return 0;
}

std::uint32_t FakeCommPort::SetCommState(const CommDcb& dcb) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("SetCommState")) return error;
  dcb_ = dcb;
  return 0;
}

std::uint32_t FakeCommPort::GetCommTimeouts(CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("GetCommTimeouts")) return error;
  timeouts = timeouts_;
  return 0;
}

std::uint32_t FakeCommPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("SetCommTimeouts")) return error;
  timeouts_ = timeouts;
  timeouts_set_.push_back(timeouts);
  return 0;
}

std::uint32_t FakeCommPort::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("SetCommMask", Args({Hex(mask)}))) return error;
  mask_ = mask;
  history_ = 0;
  if (status_waiting_) {
    status_waiting_ = false;
    status_done_ = true;
    status_result_ = 0;
  }
  Notify();
  return 0;
}

std::uint32_t FakeCommPort::WaitCommEvent(std::uint32_t& mask) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("WaitCommEvent")) return error;
  if (status_waiting_ || status_done_) return EBUSY;
  if (mask_ == 0 || history_ != 0) {
    mask = history_;
    history_ = 0;
    return 0;
  }
  status_waiting_ = true;
  return kErrorIoPending;
}

std::uint32_t FakeCommPort::ReadFile(void* buffer, std::uint32_t size, std::uint32_t& read) {
  std::lock_guard lock(mutex_);
  read = 0;
  if (const std::uint32_t error = Enter("ReadFile", Args({std::to_string(size)}))) return error;
  if (reads_pending_) {
    read_outstanding_ = true;
    read_done_ = false;
    read_buffer_ = static_cast<char*>(buffer);
    read_size_ = size;
    return kErrorIoPending;
  }
  const std::size_t n = std::min<std::size_t>(size, input_.size());
  std::memcpy(buffer, input_.data(), n);
  input_.erase(0, n);
  read = static_cast<std::uint32_t>(n);
  return 0;
}

std::uint32_t FakeCommPort::WriteFile(const void* data, std::uint32_t size,
                                      std::uint32_t& written) {
  std::lock_guard lock(mutex_);
  written = 0;
  if (const std::uint32_t error = Enter("WriteFile", Args({std::to_string(size)}))) return error;
  written_.append(static_cast<const char*>(data), size);
  if (writes_pending_) {
    write_outstanding_ = true;
    write_result_ = kErrorIoIncomplete;
    write_transferred_ = 0;
    return kErrorIoPending;
  }
  written = size;
  return 0;
}

std::uint32_t FakeCommPort::GetOverlappedResult(CommSlot slot, std::uint32_t& transferred) {
  std::lock_guard lock(mutex_);
  transferred = 0;
  if (const std::uint32_t error =
          Enter("GetOverlappedResult", std::string("(") + SlotName(slot) + ")"))
    return error;
  switch (slot) {
    case CommSlot::Write:
      transferred = write_transferred_;
      if (!write_outstanding_) return 0;
      if (write_result_ != kErrorIoIncomplete && write_result_ != kErrorIoPending)
        write_outstanding_ = false;
      return write_result_;
    case CommSlot::Read:
      if (read_outstanding_) return kErrorIoIncomplete;
      read_done_ = false;
      transferred = read_count_;
      return read_result_;
    case CommSlot::Status:
      if (status_waiting_) return kErrorIoIncomplete;
      status_done_ = false;
      transferred = status_result_;
      return 0;
  }
  return 0;
}

std::uint32_t FakeCommPort::ResetOverlapped(CommSlot slot) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("ResetOverlapped", std::string("(") + SlotName(slot) + ")"))
    return error;
  switch (slot) {
    case CommSlot::Write:
      write_outstanding_ = false;
      break;
    case CommSlot::Read:
      read_outstanding_ = false;
      read_done_ = false;
      break;
    case CommSlot::Status:
      status_waiting_ = false;
      status_done_ = false;
      break;
  }
  return 0;
}

std::uint32_t FakeCommPort::WaitForSlots(std::initializer_list<CommSlot> slots,
                                         std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  std::string names;
  for (CommSlot slot : slots) names += std::string(names.empty() ? "" : ",") + SlotName(slot);
  if (const std::uint32_t error = Enter("WaitForSlots", Args({names}))) return error;
  ++wait_count_;
  wait_timeouts_.push_back(timeout_ms);
  for (;;) {
    std::uint32_t index = 0;
    for (CommSlot slot : slots) {
      if (Signalled(slot)) return index;
      ++index;
    }
    // A closed port never holds its worker; one being closed (no events selected) only
    // briefly, in real time.
    if (closed_) return kWaitTimeout;
    if (mask_ == 0) {
      cv_.wait_for(lock, std::chrono::milliseconds(std::min<std::uint32_t>(timeout_ms, 5)));
      return kWaitTimeout;
    }
    if (release_) {
      release_ = false;
      return release_result_;
    }
    parked_ = true;
    // The state is looked at again every second too, so that the worker never depends on a
    // notification alone (a hang of 300 s was seen once under Wine, not reproduced).
    if (cv_.wait_for(lock, std::chrono::seconds(1)) == std::cv_status::timeout) continue;
    parked_ = false;
    // A wait on no slot is the worker's pause: it ends with the first news, as the real
    // port's pause does (which would also end at its time limit).
    if (slots.size() == 0) return kWaitTimeout;
  }
}

std::uint32_t FakeCommPort::ClearCommError(std::uint32_t& errors, CommStat& stat) {
  std::lock_guard lock(mutex_);
  errors = 0;
  stat = CommStat{};
  if (const std::uint32_t error = Enter("ClearCommError")) return error;
  errors = line_errors_;
  line_errors_ = 0;
  stat.Flags = hold_;
  stat.cbInQue = static_cast<std::uint32_t>(input_.size());
  stat.cbOutQue = out_queue_;
  return 0;
}

std::uint32_t FakeCommPort::GetCommModemStatus(std::uint32_t& status) {
  std::lock_guard lock(mutex_);
  status = 0;
  if (const std::uint32_t error = Enter("GetCommModemStatus")) return error;
  status = modem_;
  return 0;
}

std::uint32_t FakeCommPort::EscapeCommFunction(std::uint32_t function) {
  std::lock_guard lock(mutex_);
  return Enter("EscapeCommFunction", Args({std::to_string(function)}));
}

std::uint32_t FakeCommPort::SetCommBreak() {
  std::lock_guard lock(mutex_);
  return Enter("SetCommBreak");
}

std::uint32_t FakeCommPort::ClearCommBreak() {
  std::lock_guard lock(mutex_);
  return Enter("ClearCommBreak");
}

std::uint32_t FakeCommPort::PurgeComm(std::uint32_t flags) {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("PurgeComm", Args({std::to_string(flags)}))) return error;
  if ((flags & PURGE_TXABORT) && write_outstanding_) {
    write_result_ = kErrorOperationAborted;
  }
  if ((flags & PURGE_RXABORT) && read_outstanding_) {
    read_outstanding_ = false;
    read_done_ = true;
    read_result_ = kErrorOperationAborted;
    read_count_ = 0;
  }
  if (flags & PURGE_RXCLEAR) input_.clear();
  Notify();
  return 0;
}

std::uint32_t FakeCommPort::CloseHandle() {
  std::lock_guard lock(mutex_);
  if (const std::uint32_t error = Enter("CloseHandle")) {
    closed_ = true;  // a failed close still loses the handle
    Notify();
    return error;
  }
  closed_ = true;
  if (status_waiting_) {
    status_waiting_ = false;
    status_done_ = true;
    status_result_ = 0;
  }
  if (write_outstanding_) write_result_ = kErrorOperationAborted;
  Notify();
  return 0;
}

// --- Factory ---------------------------------------------------------------------------

std::shared_ptr<FakeCommPort> FakeCommPortFactory::Add(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto port = std::make_shared<FakeCommPort>();
  prepared_[path].push_back(port);
  return port;
}

void FakeCommPortFactory::FailOpen(const std::string& path, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  open_failures_[path] = error;
}

std::shared_ptr<FakeCommPort> FakeCommPortFactory::Port(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = latest_.find(path);
  return it == latest_.end() ? nullptr : it->second;
}

std::vector<std::string> FakeCommPortFactory::Opened() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

std::shared_ptr<CommPort> FakeCommPortFactory::Open(const std::string& path, std::uint32_t& error) {
  std::lock_guard lock(mutex_);
  opened_.push_back(path);
  error = 0;
  if (auto it = open_failures_.find(path); it != open_failures_.end()) {
    error = it->second;
    return nullptr;
  }
  auto& queue = prepared_[path];
  auto latest = latest_.find(path);
  if (latest != latest_.end() && !latest->second->Closed()) {
    error = EBUSY;
    return nullptr;
  }
  if (queue.empty() && latest == latest_.end()) {
    error = ENOENT;
    return nullptr;
  }
  std::shared_ptr<FakeCommPort> port;
  if (!queue.empty()) {
    port = queue.front();
    queue.pop_front();
  } else {
    port = std::make_shared<FakeCommPort>();
  }
  latest_[path] = port;
  return port;
}

}  // namespace platform
