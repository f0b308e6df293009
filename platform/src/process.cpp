// Starting programs: WinExec, CreateProcessA, and the process and thread handles they hand out.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include <memory>

namespace {

class ProcessObject : public winsim::KernelObject {
 public:
  explicit ProcessObject(winsim::StartedProgram program) : program_(std::move(program)) {}
  std::string Describe() const override {
    return "process " + std::to_string(program_.id.pid) + " \"" + program_.image + "\"";
  }
  const winsim::ProcessId& Id() const { return program_.id; }

 private:
  winsim::StartedProgram program_;
};

// The started program's main thread; on the host its id is the process id.
class ThreadObject : public winsim::KernelObject {
 public:
  explicit ThreadObject(int pid) : pid_(pid) {}
  std::string Describe() const override { return "thread " + std::to_string(pid_); }

 private:
  int pid_;
};

// WinExec fails with 0 to 31; a larger code would read as success.
UINT WinExecFailure(DWORD error) { return error < 32 ? error : 0; }

HANDLE NewHandle(std::shared_ptr<winsim::HandleObject> object) {
  return reinterpret_cast<HANDLE>(winsim::AddHandle(std::move(object)));
}

}  // namespace

extern "C" UINT WINAPI WinExec(LPCSTR lpCmdLine, UINT uCmdShow) {
  winsim::Call call("WinExec", lpCmdLine, uCmdShow);
  if (call.Faulted()) return call.Fail(WinExecFailure(call.FaultError()));
  if (!lpCmdLine) return call.Fail(WinExecFailure(ERROR_INVALID_PARAMETER), ERROR_INVALID_PARAMETER);
  winsim::StartRequest request;
  request.command_line = lpCmdLine;
  request.show = static_cast<int>(uCmdShow);
  request.use_show = true;
  winsim::StartedProgram started;
  if (DWORD error = winsim::StartProgram(request, &started)) return call.Fail(WinExecFailure(error), error);
  return call.Return(UINT{33});
}

extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                      LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                                      DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  winsim::Call call("CreateProcessA", lpApplicationName, lpCommandLine, lpCurrentDirectory);
  if (call.Faulted()) return call.Fail(FALSE);
  const bool named = lpApplicationName && *lpApplicationName;
  if ((!named && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation)
    return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  winsim::StartRequest request;
  if (named) request.application = lpApplicationName;
  request.command_line = lpCommandLine ? lpCommandLine : lpApplicationName;
  if (lpCurrentDirectory) {
    DWORD error = ERROR_SUCCESS;
    std::optional<std::string> directory = winsim::FullWindowsPath(lpCurrentDirectory, &error);
    if (!directory) return call.Fail(FALSE, ERROR_DIRECTORY);
    request.current_directory = *directory;
  }
  if (lpStartupInfo->dwFlags & STARTF_USESHOWWINDOW) {
    request.show = lpStartupInfo->wShowWindow;
    request.use_show = true;
  }
  winsim::StartedProgram started;
  if (DWORD error = winsim::StartProgram(request, &started)) return call.Fail(FALSE, error);
  const int pid = started.id.pid;
  lpProcessInformation->hProcess = NewHandle(std::make_shared<ProcessObject>(std::move(started)));
  lpProcessInformation->hThread = NewHandle(std::make_shared<ThreadObject>(pid));
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return call.Return(TRUE);
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  winsim::Call call("GetExitCodeProcess", hProcess);
  if (call.Faulted()) return call.Fail(FALSE);
  auto process = winsim::FindHandleOf<ProcessObject>(hProcess);
  if (!process) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  if (!lpExitCode) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  if (!winsim::ProcessAlive(process->Id())) return call.Fail(FALSE, ERROR_NOT_SUPPORTED);
  *lpExitCode = STILL_ACTIVE;
  return call.Return(TRUE);
}
