#include "tests/windows/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

namespace svcentry {

namespace {

// A temporary file a child writes one of its standard streams to. The child's
// inherited handle shares this one's file position, so reading from the start
// once the child has ended yields all it wrote. The file goes with the last
// handle.
class CaptureFile {
 public:
  CaptureFile() {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 ||
        GetTempFileNameA(directory, "out", 0, path) == 0) {
      return;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    handle_ = CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
        CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr);
  }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;
  ~CaptureFile() {
    if (IsOpen()) {
      CloseHandle(handle_);
    }
  }

  [[nodiscard]] bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] HANDLE Handle() const { return handle_; }

  [[nodiscard]] std::string Contents() const {
    std::string contents;
    SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
    char block[4096];
    DWORD got = 0;
    while (ReadFile(handle_, block, sizeof block, &got, nullptr) != FALSE &&
           got > 0) {
      contents.append(block, got);
    }
    return contents;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The user RunProgram plays: in each window the process shows, presses the
// enabled OK button, or else the enabled Cancel button (all that an aborted
// installer leaves), and notes the text of each message box. A press can
// reach a window that has just disabled its buttons again, so a window that
// is still there is pressed again a second later.
struct User {
  DWORD process_id = 0;
  std::map<HWND, DWORD> pressed_at;
  std::vector<std::string>* message_boxes = nullptr;
};

bool ButtonEnabled(HWND window, int id) {
  HWND button = GetDlgItem(window, id);
  return button != nullptr && IsWindowEnabled(button) != FALSE;
}

BOOL CALLBACK Answer(HWND window, LPARAM context) {
  auto& user =
      *reinterpret_cast<User*>(context);  // NOLINT(performance-no-int-to-ptr)
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != user.process_id || IsWindowVisible(window) == FALSE) {
    return TRUE;
  }
  const int button = ButtonEnabled(window, IDOK)       ? IDOK
                     : ButtonEnabled(window, IDCANCEL) ? IDCANCEL
                                                       : 0;
  constexpr DWORD kPressAgainMilliseconds = 1000;
  const DWORD now = GetTickCount();
  const auto pressed = user.pressed_at.find(window);
  const bool first = pressed == user.pressed_at.end();
  if (button == 0 ||
      (!first && now - pressed->second < kPressAgainMilliseconds)) {
    return TRUE;
  }
  user.pressed_at[window] = now;
  // A message box shows its text in the control with the id 0xFFFF.
  constexpr int kMessageBoxText = 0xFFFF;
  char text[1024];
  if (first &&
      GetDlgItemTextA(window, kMessageBoxText, text, sizeof text) > 0) {
    user.message_boxes->emplace_back(text);
  }
  PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
  return TRUE;
}

// Waits for the process to end, answering its windows meanwhile. False when
// it did not end in time; it is then stopped.
bool WaitAnswering(const PROCESS_INFORMATION& process,
                   std::vector<std::string>* message_boxes) {
  constexpr DWORD kPollMilliseconds = 50;
  constexpr DWORD kLimitMilliseconds = 60'000;
  User user{process.dwProcessId, {}, message_boxes};
  for (DWORD waited = 0; waited < kLimitMilliseconds;
       waited += kPollMilliseconds) {
    if (WaitForSingleObject(process.hProcess, kPollMilliseconds) !=
        WAIT_TIMEOUT) {
      return true;
    }
    EnumWindows(Answer, reinterpret_cast<LPARAM>(&user));
  }
  // An exit code no program under test gives.
  constexpr UINT kStopped = 0xDEAD;
  TerminateProcess(process.hProcess, kStopped);
  WaitForSingleObject(process.hProcess, INFINITE);
  return false;
}

}  // namespace

ProgramRun RunProgram(const std::string& program,
                      const std::string& arguments) {
  const CaptureFile output;
  const CaptureFile error;
  if (!output.IsOpen() || !error.IsOpen()) {
    ADD_FAILURE() << "No file for the output of " << program << ", error "
                  << GetLastError();
    return {};
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.Handle();
  startup.hStdError = error.Handle();
  std::string command_line = "\"" + program + "\" " + arguments;
  PROCESS_INFORMATION process{};
  // Wine now and then refuses to start a process (ERROR_INTERNAL_ERROR, seen
  // in one run of the whole suite). The program under test has not run at
  // that point, so trying again hides nothing about it.
  constexpr int kStartAttempts = 5;
  bool started = false;
  for (int attempt = 1; attempt <= kStartAttempts && !started; ++attempt) {
    started =
        CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr,
                       TRUE, 0, nullptr, nullptr, &startup, &process) != FALSE;
    if (!started && attempt < kStartAttempts) {
      Sleep(100);
    }
  }
  if (!started) {
    ADD_FAILURE() << "Cannot start " << program << ", error " << GetLastError();
    return {};
  }
  ProgramRun run;
  if (!WaitAnswering(process, &run.message_boxes)) {
    ADD_FAILURE() << program << " " << arguments << " did not end in time";
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.exit_code = exit_code;
  run.standard_output = output.Contents();
  run.standard_error = error.Contents();
  return run;
}

namespace {

// `text` on one line, without its last line end: each line end (CR LF, LF
// or CR) shows as " / ", so that no line of a report can be forged.
std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  std::string line;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' || text[at] == '\n') {
      line += " / ";
      at += text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n';
    } else {
      line += text[at];
    }
  }
  return line;
}

}  // namespace

std::string Described(const ProgramRun& run) {
  std::string described = "exit code " + std::to_string(run.exit_code);
  if (!run.standard_output.empty()) {
    described += ", output \"" + OneLine(run.standard_output) + "\"";
  }
  if (!run.standard_error.empty()) {
    described += ", error \"" + OneLine(run.standard_error) + "\"";
  }
  for (const std::string& box : run.message_boxes) {
    described += ", box \"" + OneLine(box) + "\"";
  }
  return described;
}

// A property recorded again under its name would replace the one before.
void SaySeen(const std::string& what) {
  static const ::testing::TestInfo* test = nullptr;
  static int count = 0;
  const ::testing::TestInfo* current =
      ::testing::UnitTest::GetInstance()->current_test_info();
  count = current == test ? count + 1 : 1;
  test = current;
  ::testing::Test::RecordProperty(
      count == 1 ? std::string("seen") : "seen " + std::to_string(count), what);
  std::printf("[   SEEN   ] %s\n", what.c_str());
}

}  // namespace svcentry
