// Processes through Toolhelp snapshots (narrow records), OpenProcess/TerminateProcess and
// CreateProcessA. The launcher's own arguments come from the wide command line.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>

#include "platform/process.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_handles.h"

namespace platform {
namespace {

using win32::UniqueHandle;

// The narrow record and start-up record sizes the system expects of a 64-bit process.
static_assert(sizeof(PROCESSENTRY32) == 304);
static_assert(sizeof(STARTUPINFOA) == 104);

struct LocalFreeDeleter {
  void operator()(LPWSTR* argv) const { LocalFree(argv); }
};

// Arguments of a wide command line, program name included; empty when it cannot be split.
std::vector<std::wstring> WideArguments(const wchar_t* commandLine) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(commandLine, &count));
  if (!argv) return {};
  return std::vector<std::wstring>(argv.get(), argv.get() + count);
}

}  // namespace

void ForEachRunningProcess(const ProcessVisitor& visitor) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
    if (visitor(ProcessEntry{entry.th32ProcessID, entry.szExeFile}) == LoopState::Stop) return;
  }
}

bool TerminateProcessById(std::uint32_t pid) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  return TerminateProcess(process.Get(), 0) != 0;
}

bool StartProcess(const std::string& commandLine, const std::string& workingFolder) {
  // CreateProcessA may write into the command line, so it gets its own buffer.
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
    return false;
  }
  // Neither waited for nor kept.
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return true;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  // An empty line would make the system answer with this program's own path.
  if (commandLine.find_first_not_of(" \t") == std::string::npos) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, commandLine.c_str(), -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, commandLine.c_str(), -1, wide.data(), length);
  std::vector<std::string> arguments;
  for (const auto& argument : WideArguments(wide.c_str())) arguments.push_back(win32::WideToAnsi(argument));
  return arguments;
}

std::vector<std::string> LauncherArguments() {
  const auto wide = WideArguments(GetCommandLineW());
  std::vector<std::string> arguments;
  for (std::size_t i = 1; i < wide.size(); ++i) arguments.push_back(win32::WideToAnsi(wide[i]));
  return arguments;
}

// The system keeps the command line; nothing to record.
void RecordArguments(int, char**) {}

}  // namespace platform
