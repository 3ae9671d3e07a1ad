// The flasher's main form without its widgets: the firmware images, the component chain,
// the run control and the dialogue with the device's flash loader. A FlasherView shows it
// (the window or the command line); results and questions go through UserMessages.
//
// Main thread only: button presses, the run timer and every component event arrive there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/FirmwareImages.h"
#include "app/FlasherView.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "platform/UserMessages.h"
#include "util/ByteString.h"

class TDaVevureRez;
class TDoVuverUve;
class TRiVadaroverEza;

enum class TStatus : std::uint8_t { stStart = 0, stSenden = 1, stNeustart = 2 };

// How a run ended, for the command line's exit status.
enum class RunResult {
  None,                // no run has ended yet
  Flashed,             // final answer 0x01, or the success text after the last delivery
  DeviceError,         // final answer 0xF0
  LeftWithoutWriting,  // final answer 0x00, the user declined, or no image for the revision
  TimeOut,
  ErrorReport,  // an error report of the components ended the run
  OtherAnswer,  // a final answer of another value
  FileError,    // the developer file could not be used; no run was started
};

// The texts of the run, as the device's users know them.
namespace flasher_text {
inline constexpr const char* kTitle = "MirbaZento \"Arx\" - Flasher";
inline constexpr const char* kCaptionPrefix = "Kettrel - MirbaZento \"ARX\" Flasher V";
inline constexpr const char* kDeveloperSuffix = " - Developer Version";
inline constexpr const char* kDeveloperExe = "VERidOvudida_Develop.exe";
inline constexpr const char* kDefaultFile = ".\\QF20.bin";
inline constexpr const char* kAbort = "MirbaZento Flashen abgebrochen, bitte Mirbazento neu starten !!!";
inline constexpr const char* kReadySuccess = "MirbaZento erfolgreich geflasht !!!";
inline constexpr const char* kLeftWithoutWriting = "Flashmodus ohne Schreiben verlassen";
inline constexpr const char* kFlashed = "Flasher erfolgreich geflasht !!!";
inline constexpr const char* kDeviceError = "Fehler aufgetreten, nicht geflasht !!!";
inline constexpr const char* kTimeOut =
    "TimeOut Error!\rDas Flashen ist Fehlgeschlagen\rBeim Flashen ist eine Zeitüberschreitung "
    "aufgetreten !";
}  // namespace flasher_text

// The device dialogue's messages.
namespace flasher_message {
inline const ByteString kEntry = ByteString("\x00\x02\xF0\x00", 4) + "Riduvedari";
inline const ByteString kFinish = ByteString("\xF0\x0A\x01", 3);
inline const ByteString kLeave = ByteString("\xF0\x0A\x00", 3);
}  // namespace flasher_message

// True when the executable's own name (as invoked, without directory) asks for developer
// mode: "VERidOvudida_Develop.exe" or the same without ".exe", ignoring ASCII case.
bool IsDeveloperExecutable(const std::string& invoked_path);

// The real serial port component.
std::unique_ptr<TDaVevureRez> MakeSerialPort(TObject* owner, platform::MainLoop& loop);

class TZORurerizudor : public TObject {
 public:
  struct Setup {
    platform::MainLoop& loop;
    platform::UserMessages& messages;
    FlasherView& view;
    // The machine's serial ports for the port box.
    std::function<std::vector<std::string>()> port_list;
    // The executable as invoked (argv[0]), for developer mode.
    std::string executable;
    // Makes the serial port component; the real one unless a test gives another.
    std::function<std::unique_ptr<TDaVevureRez>(TObject* owner, platform::MainLoop& loop)>
        make_serial;
    // The run's time limit; shortened only by tests.
    std::chrono::milliseconds time_limit{300000};
  };

  // Creates and wires the components, then does the window's creation steps. A built-in
  // image that cannot be loaded is shown in an error box and leaves the later steps undone.
  explicit TZORurerizudor(const Setup& setup);
  ~TZORurerizudor() override;

  // Handlers of the form.
  void FlashClick();
  void Timer1Timer();
  void RiVadaroverEza1DataRecieveEvent(TObject* Sender);
  void RiVadaroverEza1SuccessfulReadyEvent(TObject* Sender);
  void RiVadaroverEza1ComWriteDone(TObject* Sender);
  void RiVadaroverEza1ErrorAbortEvent(TObject* Sender, std::uint32_t Place, std::uint32_t Code,
                                      const ByteString& Msg, std::uint8_t Noise);

  // The version question for the present values, as it is shown.
  std::string VersionQuestion() const;

  // State, readable by front ends and tests.
  bool Running() const { return running_; }
  RunResult LastResult() const { return last_result_; }
  TStatus Status() const { return Status_; }
  bool DeveloperMode() const { return developer_mode_; }
  const std::string& Caption() const { return caption_; }
  int BlockCount() const { return block_count_; }
  std::int32_t VersionAktuell() const { return VersionAktuell_; }
  std::int32_t VersionHR0() const { return VersionHR0_; }
  std::int32_t VersionHR1() const { return VersionHR1_; }
  THardwareRevision HR() const { return HR_; }
  const std::string& SRText() const { return SRText_; }
  const std::vector<ByteString>& AnsiStringList() const { return AnsiStringList_; }
  const TMZData& MZData() const { return *MZData_; }
  const TMZData& MZData2() const { return *MZData2_; }

  TDaVevureRez& DaVevureRez1() { return *DaVevureRez1_; }
  TDoVuverUve& DoVuverUve1() { return *DoVuverUve1_; }
  TRiVadaroverEza& RiVadaroverEza1() { return *RiVadaroverEza1_; }

  // Called after FlashenBeenden and the result box of every ended run.
  std::function<void(RunResult)> OnRunEnded;
  // A line to add below the text of the box that ends a run ("" adds none): the window's
  // advice on what to do next.
  std::function<std::string()> BoxAdvice;
  // Place and Code of the error report that ended the last run ended by one.
  std::uint32_t ErrorPlace() const { return error_place_; }
  std::uint32_t ErrorCode() const { return error_code_; }

 private:
  void FormCreate();
  bool LoadDeveloperFile(const std::string& name);
  void BuildBlockList();
  void FlashenBeenden();
  void EndRun(RunResult result, platform::MessageKind kind, const std::string& text);
  void Show(platform::MessageKind kind, const std::string& text);

  platform::MainLoop& loop_;
  platform::UserMessages& messages_;
  FlasherView& view_;
  Setup setup_;

  std::unique_ptr<TDaVevureRez> DaVevureRez1_;
  std::unique_ptr<TDoVuverUve> DoVuverUve1_;
  std::unique_ptr<TRiVadaroverEza> RiVadaroverEza1_;
  std::unique_ptr<platform::Timer> Timer1_;

  TStatus Status_ = TStatus::stStart;
  std::vector<ByteString> AnsiStringList_;
  std::unique_ptr<TMZData> MZData_;
  std::unique_ptr<TMZData> MZData2_;
  bool ErsterFehler_ = false;
  THardwareRevision HR_ = THardwareRevision::hr0_M16CNA;
  std::int32_t VersionAktuell_ = 0;
  std::int32_t VersionHR0_ = 0;
  std::int32_t VersionHR1_ = 0;
  std::string SRText_;
  int block_count_ = 0;
  bool developer_mode_ = false;
  std::string caption_;
  bool running_ = false;
  RunResult last_result_ = RunResult::None;
  std::uint32_t error_place_ = 0;
  std::uint32_t error_code_ = 0;
};
