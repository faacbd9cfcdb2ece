// Processes through Toolhelp snapshots, OpenProcess/TerminateProcess and CreateProcessW. Names,
// command lines and folders are UTF-8 on this side of the seam and wide on the system's, so a
// game folder or an argument outside the ANSI code page reaches the game unchanged. Which folder
// a process runs from is its image's full path (QueryFullProcessImageNameW), resolved like the
// folder through the file's final path, so links, short names and letter case do not matter.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>
#include <string>

#include "platform/process.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_handles.h"

namespace platform {
namespace {

using win32::UniqueHandle;

// The record and start-up record sizes the system expects of a 64-bit process.
static_assert(sizeof(PROCESSENTRY32W) == 568);
static_assert(sizeof(STARTUPINFOW) == 104);

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

// Calls `fill` (buffer, its size in characters) as the W functions that answer the size they
// need; the text they wrote, or empty when they fail.
template <typename Fill>
std::wstring GrowingText(Fill fill) {
  std::wstring text(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD length = fill(text.data(), static_cast<DWORD>(text.size()));
    if (length == 0) return {};
    if (length < text.size()) {
      text.resize(length);
      return text;
    }
    text.assign(length + 1, L'\0');
  }
  return {};
}

// The path the system resolves `path` to (links followed, long names, "\\?\" dropped); the
// full path as given when the file cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
  const std::wstring full =
      GrowingText([&](wchar_t* buffer, DWORD size) { return GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
  if (full.empty()) return {};
  // No access asked and every sharing allowed: a running program's image opens like this too.
  UniqueHandle file(CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return full;
  const std::wstring resolved = GrowingText([&](wchar_t* buffer, DWORD size) {
    return GetFinalPathNameByHandleW(file.Get(), buffer, size, VOLUME_NAME_DOS);
  });
  if (resolved.empty()) return full;
  if (resolved.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    std::wstring share(1, L'\\');  // built piecewise: GCC 12 misreads a chained operator+ at -O3
    share.append(resolved, 7, std::wstring::npos);
    return share;
  }
  if (resolved.rfind(L"\\\\?\\", 0) == 0) return resolved.substr(4);
  return resolved;
}

std::wstring ImagePath(std::uint32_t pid) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  std::wstring image(32768, L'\0');  // the longest path the system has
  DWORD length = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &length)) return {};
  image.resize(length);
  return image;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// CreateProcess refuses the file itself with these: not a program of this system or machine,
// or a damaged image.
bool BlamesTheExecutable(DWORD error) {
  switch (error) {
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_EXE_SIGNATURE:
    case ERROR_EXE_MARKED_INVALID:
    case ERROR_FILE_CORRUPT:
      return true;
    default:
      return false;
  }
}

// The system's description of an error in the user's language as GBK, followed by its number.
std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring wide = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) wide.pop_back();
  // Built piecewise: GCC 12 misreads a chained operator+ of strings at -O3.
  std::string reason = wide.empty() ? std::string("error") : win32::WideToGbk(wide);
  reason += " (";
  reason += std::to_string(error);
  reason += ")";
  return reason;
}

}  // namespace

ImageFolder::ImageFolder(const std::string& folder) {
  const std::wstring wide = win32::WidePath(folder);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  std::wstring resolved = FinalPath(wide);
  while (resolved.size() > 3 && IsSeparator(resolved.back())) resolved.pop_back();
  resolved_ = win32::WideToUtf8(resolved);
}

bool ImageFolder::Holds(std::uint32_t pid) const {
  if (resolved_.empty()) return false;
  const std::wstring folder = win32::Utf8ToWide(resolved_);
  const std::wstring image = ImagePath(pid);
  if (image.empty()) return false;
  const std::wstring executable = FinalPath(image);
  if (executable.size() <= folder.size()) return false;
  const int prefix = static_cast<int>(folder.size());
  if (CompareStringOrdinal(executable.data(), prefix, folder.data(), prefix, TRUE) != CSTR_EQUAL) return false;
  return IsSeparator(folder.back()) || IsSeparator(executable[folder.size()]);
}

void ForEachRunningProcess(const ProcessVisitor& visitor) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    if (visitor(ProcessEntry{entry.th32ProcessID, win32::WideToUtf8(entry.szExeFile)}) == LoopState::Stop) return;
  }
}

bool TerminateProcessById(std::uint32_t pid) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  return TerminateProcess(process.Get(), 0) != 0;
}

ProcessStart StartProcess(const std::string& commandLine, const std::string& workingFolder) {
  // CreateProcessW may write into the command line, so it gets its own buffer.
  std::wstring mutableLine = win32::Utf8ToWide(commandLine);
  // The system takes no long form for the process's current directory; a folder past its
  // limit makes the start fail, which the launcher reports as it reports any failed start.
  const std::wstring folder = win32::Utf8ToWide(workingFolder);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    const DWORD error = GetLastError();
    return ProcessStart{false, BlamesTheExecutable(error), ErrorText(error)};
  }
  // Neither waited for nor kept.
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return ProcessStart{true, false, {}};
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  // An empty line would make the system answer with this program's own path.
  if (commandLine.find_first_not_of(" \t") == std::string::npos) return {};
  std::vector<std::string> arguments;
  for (const auto& argument : WideArguments(win32::Utf8ToWide(commandLine).c_str())) {
    arguments.push_back(win32::WideToUtf8(argument));
  }
  return arguments;
}

std::vector<std::string> LauncherArguments() {
  const auto wide = WideArguments(GetCommandLineW());
  std::vector<std::string> arguments;
  for (std::size_t i = 1; i < wide.size(); ++i) arguments.push_back(win32::WideToUtf8(wide[i]));
  return arguments;
}

// The system keeps the command line; nothing to record.
void RecordArguments(int, char**) {}

}  // namespace platform
