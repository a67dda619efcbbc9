#include "actions/launch.h"

#include "app/context.h"

namespace {
constexpr DWORD kNormalPriorityClass = 0x20;  // NORMAL_PRIORITY_CLASS
}  // namespace

std::string LaunchCommandLine(const std::string& program, const std::string& arguments) {
  return "\"" + program + "\" " + arguments;
}

DWORD LaunchProcess(CSetupContext& context, const std::string& program,
                    const std::string& arguments, LaunchedProcess* launched,
                    const std::string& currentDirectory) {
  context.Log("launching: %s %s\n", program.c_str(), arguments.c_str());
  std::string commandLine = LaunchCommandLine(program, arguments);
  if (commandLine.size() + 1 > kLaunchCommandLineBuffer) {
    context.Log("command line too long - %u characters\n",
                static_cast<unsigned>(commandLine.size()));
    return ERROR_INSUFFICIENT_BUFFER;
  }
  Processes& processes = context.machine().processes();
  ProcessInformation info;
  DWORD error = processes.CreateProcess(commandLine, kNormalPriorityClass, &info, currentDirectory);
  if (error != ERROR_SUCCESS) return error;
  // The thread handle is never used; the process handle goes to the caller.
  UniqueProcessHandle thread(processes, info.thread);
  launched->process = UniqueProcessHandle(processes, info.process);
  launched->processId = info.processId;
  return ERROR_SUCCESS;
}

bool EnablePrivilege(CSetupContext& context, const std::string& name) {
  DWORD adjustError = ERROR_SUCCESS;
  DWORD openError = context.machine().processes().EnablePrivilege(name, &adjustError);
  if (openError != ERROR_SUCCESS) {
    context.Log("could not open process\n");
    return false;
  }
  if (adjustError != ERROR_SUCCESS) {
    context.Log("could not adjust token privileges\n");
    return false;
  }
  return true;
}
