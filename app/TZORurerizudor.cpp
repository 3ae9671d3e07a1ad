#include "app/TZORurerizudor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "connection/TDoVuverUve.h"
#include "platform/AsciiCase.h"
#include "platform/System.h"
#include "protocol/TAxProtokollCluster.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"

using platform::MessageAnswer;
using platform::MessageKind;

namespace {
constexpr std::chrono::milliseconds kEndWait(8000);
}  // namespace

bool IsDeveloperExecutable(const std::string& invoked_path) {
  const std::string name = platform::FileNamePart(invoked_path);
  const std::string develop = flasher_text::kDeveloperExe;
  return platform::EqualsIgnoreAsciiCase(name, develop) ||
         platform::EqualsIgnoreAsciiCase(name, develop.substr(0, develop.size() - 4));
}

TZORurerizudor::TZORurerizudor(const Setup& setup)
    : loop_(setup.loop),
      messages_(setup.messages),
      view_(setup.view),
      setup_(setup),
      MZData_(std::make_unique<TMZData>()),
      MZData2_(std::make_unique<TMZData>()) {
  MZData_->fill(0);
  MZData2_->fill(0);

  // The component chain, created in this order and bound as each is created.
  DaVevureRez1_ = setup_.make_serial(this, loop_);
  DaVevureRez1_->SetComPort("COM1");
  DaVevureRez1_->SetRTOExtraDelayTime(2);
  DaVevureRez1_->SetWTOExtraDelayTime(2);
  DaVevureRez1_->SetXTOAuto(false);
  DaVevureRez1_->SetErrorNoise(255);

  DoVuverUve1_ = std::make_unique<TDoVuverUve>(this, loop_);
  DoVuverUve1_->SetDaVevureRez(DaVevureRez1_.get());
  DoVuverUve1_->SetRxDCharTime(0);
  DoVuverUve1_->SetHearForConnect(false);
  DoVuverUve1_->SetResetModem(false);
  DoVuverUve1_->SetMaxProtokollAnzahl(0);

  RiVadaroverEza1_ = std::make_unique<TRiVadaroverEza>(this, loop_);
  RiVadaroverEza1_->SetDoVuverUve(DoVuverUve1_.get());
  RiVadaroverEza1_->SetProtokoll(TProtokoll::p3964R);
  RiVadaroverEza1_->SetWaitForAnswer3964R(2000);
  RiVadaroverEza1_->SetP3964RPExtryDelayTime(0);
  RiVadaroverEza1_->OnComWriteDone = [this](TObject* s) { RiVadaroverEza1ComWriteDone(s); };
  RiVadaroverEza1_->OnSuccessfulReadyEvent = [this](TObject* s) {
    RiVadaroverEza1SuccessfulReadyEvent(s);
  };
  RiVadaroverEza1_->OnDataRecieveEvent = [this](TObject* s) { RiVadaroverEza1DataRecieveEvent(s); };
  RiVadaroverEza1_->OnErrorAbortEvent = [this](TObject* s, std::uint32_t place, std::uint32_t code,
                                               const ByteString& msg, std::uint8_t noise) {
    RiVadaroverEza1ErrorAbortEvent(s, place, code, msg, noise);
  };

  Timer1_ = loop_.CreateTimer(setup_.time_limit);
  Timer1_->OnTimer = [this] { Timer1Timer(); };
  EndWait_ = loop_.CreateTimer(kEndWait);
  EndWait_->OnTimer = [this] { EndRun(RunResult::Flashed, MessageKind::Plain, SRText_); };

  FormCreate();
}

TZORurerizudor::~TZORurerizudor() {
  // The upper components refer to the lower ones: release them from the top.
  EndWait_.reset();
  Timer1_.reset();
  RiVadaroverEza1_.reset();
  DoVuverUve1_.reset();
  DaVevureRez1_.reset();
}

void TZORurerizudor::FormCreate() {
  std::string error;
  if (!LoadEmbeddedImage(kImageNameHR0, *MZData_, error) ||
      !LoadEmbeddedImage(kImageNameHR1, *MZData2_, error)) {
    Show(MessageKind::Error, error);
    return;
  }
  VersionAktuell_ = 0;
  VersionHR0_ = ImageVersion(*MZData_);
  VersionHR1_ = ImageVersion(*MZData2_);
  caption_ = std::string(flasher_text::kCaptionPrefix) + VersionText(*MZData_) + "/" +
             VersionText(*MZData2_);
  developer_mode_ = IsDeveloperExecutable(setup_.executable);
  if (developer_mode_) caption_ += flasher_text::kDeveloperSuffix;
  view_.SetCaption(caption_);
  view_.SetDeveloperControlsVisible(developer_mode_);

  const std::vector<std::string> ports =
      setup_.port_list ? setup_.port_list() : std::vector<std::string>{};
  int selected = -1;
  for (std::size_t i = 0; i < ports.size() && selected < 0; ++i)
    if (platform::EqualsIgnoreAsciiCase(ports[i], DaVevureRez1_->ComPort()))
      selected = static_cast<int>(i);
  view_.SetPorts(ports, selected);
}

namespace {

// The common causes in words of our own; the system's texts are English.
std::string FileErrorText(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return "Die Datei wurde nicht gefunden.";
    case EACCES:
    case EPERM:
      return "Keine Berechtigung, die Datei zu lesen.";
    case EISDIR:
      return "Das ist ein Ordner, keine Datei.";
    case EIO:
      return "Lesefehler des Datenträgers.";
    default:
      return "Systemfehler " + std::to_string(err) + ".";
  }
}

}  // namespace

bool TZORurerizudor::LoadDeveloperFile(const std::string& name) {
  auto failed = [&](const char* what, int err) {
    Show(MessageKind::Error,
         "Die Datei \"" + name + "\" kann nicht " + what + " werden:\r" + FileErrorText(err));
    return false;
  };
  // Read-only: a write-protected image file is a perfectly good image file.
  std::FILE* file = platform::OpenForReading(name);
  if (!file) return failed("geöffnet", errno);
  auto image = std::make_unique<TMZData>();
  std::size_t got = 0;
  int err = 0;
  while (got < kImageSize) {
    errno = 0;
    const std::size_t n = std::fread(image->data() + got, 1, kImageSize - got, file);
    got += n;
    if (n == 0) {
      if (std::ferror(file)) err = errno != 0 ? errno : EIO;
      break;
    }
  }
  std::fclose(file);
  // A folder, for one, opens but cannot be read.
  if (err != 0) return failed("gelesen", err);
  if (got != kImageSize) {
    Show(MessageKind::Error, "Die Datei \"" + name + "\" ist zu kurz:\r" + std::to_string(got) +
                                 " Bytes statt " + std::to_string(kImageSize) + " Bytes.");
    return false;
  }
  *MZData_ = *image;
  *MZData2_ = *image;
  VersionHR0_ = VersionHR1_ = ImageVersion(*MZData_);
  return true;
}

void TZORurerizudor::FlashClick() {
  if (running_) return;  // the button is disabled during a run
  ErsterFehler_ = true;
  view_.SetPortEnabled(false);
  view_.SetFlashEnabled(false);
  SRText_.clear();
  HR_ = THardwareRevision::hr0_M16CNA;
  device_revision_ = -1;
  const std::string file = view_.FileNameText();
  if (file != flasher_text::kDefaultFile && !LoadDeveloperFile(file)) {
    view_.SetFlashEnabled(true);
    view_.SetPortEnabled(true);
    last_result_ = RunResult::FileError;
    if (OnRunEnded) OnRunEnded(last_result_);
    return;
  }
  running_ = true;
  DaVevureRez1_->SetComPort(view_.PortText());
  DoVuverUve1_->SetMaxProtokollAnzahl(10000);
  // A port that does not open is reported at once, and the report ends the run: then
  // nothing further may start.
  DoVuverUve1_->SetActive(true);
  if (!running_) return;
  latency_ = ReadReceiveLatency(view_.PortText());
  if (latency_.kind != ReceiveLatency::Kind::None)
    DoVuverUve1_->ProtokollListe.push_back(LatencyLogLine(latency_));
  RiVadaroverEza1_->SetActive(true);
  if (!running_) return;
  Timer1_->Restart();
  block_count_ = 0;
  Status_ = TStatus::stStart;
  RiVadaroverEza1_->SendeString(flasher_message::kEntry);
}

void TZORurerizudor::Timer1Timer() {
  if (end_waiting_) return;
  EndRun(RunResult::TimeOut, MessageKind::Error, flasher_text::kTimeOut);
}

void TZORurerizudor::FlashenBeenden() {
  // From here on the run is over: what the closing reports (a device that restarts as it
  // leaves flash mode is gone by now) is only logged, and nothing ends the run a second time.
  running_ = false;
  end_waiting_ = false;
  EndWait_->Stop();
  view_.SetFlashEnabled(true);
  view_.SetProgress(0);
  view_.SetPortEnabled(true);
  RiVadaroverEza1_->SetActive(false);
  DaVevureRez1_->SetActive(false);
  DoVuverUve1_->SetActive(false);
  AnsiStringList_.clear();
  Timer1_->Stop();
}

void TZORurerizudor::EndRun(RunResult result, MessageKind kind, const std::string& text) {
  // A time-out, an answer or a report delivered by the result box's loop, or raised while
  // the run closes, comes after the verdict.
  if (!running_) return;
  FlashenBeenden();
  last_result_ = result;
  const std::string advice = BoxAdvice && !text.empty() ? BoxAdvice() : std::string();
  if (!text.empty()) Show(kind, advice.empty() ? text : text + "\r" + advice);
  if (!latency_advice_.empty()) Show(MessageKind::Plain, std::exchange(latency_advice_, {}));
  if (OnRunEnded) OnRunEnded(result);
}

void TZORurerizudor::Show(MessageKind kind, const std::string& text) {
  messages_.Show(kind, text);
}

void TZORurerizudor::BuildBlockList() {
  AnsiStringList_ = ::BuildBlockList(HR_ == THardwareRevision::hr0_M16CNA ? *MZData_ : *MZData2_);
  block_count_ = static_cast<int>(AnsiStringList_.size());
  latency_advice_ = LatencyAdvice(latency_, DaVevureRez1_->BaudRate(), AnsiStringList_);
  view_.SetBlockCountCaption(std::to_string(block_count_));
}

std::string TZORurerizudor::VersionQuestion() const {
  char current[32];
  char images[64];
  std::snprintf(current, sizeof current, " %2d.%2d ", VersionAktuell_ / 100, VersionAktuell_ % 100);
  std::snprintf(images, sizeof images, " %1d.%2d / %2d.%2d ", VersionHR0_ / 100, VersionHR0_ % 100,
                VersionHR1_ / 100, VersionHR1_ % 100);
  return std::string("Die Version") + current + " ihres Mirbazentos ist aktuell.\r" +
         "Soll trotzdem die Version" + images + "geschrieben werden ?";
}

void TZORurerizudor::RiVadaroverEza1DataRecieveEvent(TObject*) {
  // Messages that arrive after the run has ended belong to no run.
  while (running_ && !end_waiting_ && RiVadaroverEza1_->GetNextClusterSize() > 0) {
    std::uint32_t size = 0;
    const TAxProtokollCluster message(RiVadaroverEza1_->ReadNextCluster(size));
    const std::uint32_t n = message.GetSize();
    switch (Status_) {
      case TStatus::stStart: {
        if ((n == 2 || n == 5) && message.GetByteAtPos(0) == 0x00 &&
            message.GetByteAtPos(1) == 0x02) {
          if (n == 5) {
            VersionAktuell_ = message.GetByteAtPos(3) * 100 + message.GetByteAtPos(4);
            device_revision_ = message.GetByteAtPos(2);
          }
          if (n == 5 && message.GetByteAtPos(2) < 2) {
            HR_ = static_cast<THardwareRevision>(message.GetByteAtPos(2));
          } else if (n == 2) {
            HR_ = THardwareRevision::hr0_M16CNA;
          } else {
            // A revision without an image: leave flash mode without writing.
            SRText_ = flasher_text::kAbort;
            RiVadaroverEza1_->SendeString(flasher_message::kLeave);
            Status_ = TStatus::stNeustart;
            return;
          }
          BuildBlockList();
        }
        const std::int32_t image_version =
            HR_ == THardwareRevision::hr0_M16CNA ? VersionHR0_ : VersionHR1_;
        if (VersionAktuell_ >= image_version) {
          const MessageAnswer answer = messages_.Show(MessageKind::Confirmation, VersionQuestion());
          // The question's own loop may have seen the run end (time-out, error report).
          if (!running_) return;
          if (answer != MessageAnswer::Ok) {
            SRText_ = flasher_text::kAbort;
            RiVadaroverEza1_->SendeString(flasher_message::kLeave);
            Status_ = TStatus::stNeustart;
            return;
          }
        }
        for (const ByteString& block : AnsiStringList_) {
          RiVadaroverEza1_->SendeString(block);
          Status_ = TStatus::stSenden;
        }
        break;
      }
      case TStatus::stSenden:
        break;
      case TStatus::stNeustart:
        if (n == 5 && message.GetDataAsString().compare(0, 4, "\x00\x02\xF0\x0A", 4) == 0) {
          switch (message.GetByteAtPos(4)) {
            case 0x00:
              EndRun(RunResult::LeftWithoutWriting, MessageKind::Plain,
                     flasher_text::kLeftWithoutWriting);
              break;
            case 0x01:
              EndRun(RunResult::Flashed, MessageKind::Plain, flasher_text::kFlashed);
              break;
            case 0xF0:
              EndRun(RunResult::DeviceError, MessageKind::Plain, flasher_text::kDeviceError);
              break;
            default:
              EndRun(RunResult::OtherAnswer, MessageKind::Plain, "");
              break;
          }
        }
        break;
    }
  }
}

void TZORurerizudor::RiVadaroverEza1SuccessfulReadyEvent(TObject*) {
  if (!running_ || end_waiting_) return;
  switch (Status_) {
    case TStatus::stStart:
      break;
    case TStatus::stSenden:
      RiVadaroverEza1_->SetP3964RPBlockModeSendRequest(false);
      RiVadaroverEza1_->SendeString(flasher_message::kFinish);
      view_.AppendLogLines(DoVuverUve1_->ProtokollListe);
      DoVuverUve1_->ProtokollListe.clear();
      Status_ = TStatus::stNeustart;
      break;
    case TStatus::stNeustart: {
      RunResult result = RunResult::LeftWithoutWriting;
      if (SRText_.empty()) {
        SRText_ = flasher_text::kReadySuccess;
        if (!setup_.end_wait_blocks) {
          end_waiting_ = true;
          EndWait_->Start();
          break;
        }
        loop_.Sleep(kEndWait);
        result = RunResult::Flashed;
      }
      EndRun(result, MessageKind::Plain, SRText_);
      break;
    }
  }
}

void TZORurerizudor::RiVadaroverEza1ComWriteDone(TObject*) {
  if (!running_ || end_waiting_) return;
  if (Status_ == TStatus::stSenden && block_count_ > 0) {
    const auto waiting = static_cast<int>(RiVadaroverEza1_->ToSendListe.size());
    view_.SetProgress((block_count_ - waiting) * 100 / block_count_);
  } else if (Status_ == TStatus::stStart) {
    view_.SetProgress(0);
  }
}

void TZORurerizudor::RiVadaroverEza1ErrorAbortEvent(TObject*, std::uint32_t Place,
                                                    std::uint32_t Code, const ByteString&,
                                                    std::uint8_t Noise) {
  // Errors end the run at once; warnings and messages do not.
  if (Noise != 0 || !ErsterFehler_ || !running_ || end_waiting_) return;
  ErsterFehler_ = false;
  error_place_ = Place;
  error_code_ = Code;
  char details[64];
  std::snprintf(details, sizeof details, "Ort:%4.4X, Code:%4.4X, Art:%2.2X", Place, Code, Noise);
  EndRun(RunResult::ErrorReport, MessageKind::Plain,
         std::string("Es ist ein Fehler aufgetreten, das Flashen wird beendet !\r") + details);
}

std::unique_ptr<TDaVevureRez> MakeSerialPort(TObject* owner, platform::MainLoop& loop) {
  return std::make_unique<TDaVevureRez>(owner, loop);
}
