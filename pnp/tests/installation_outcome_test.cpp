// Every installation ends in one of three ways that a user can see: the setup program started, an
// error box, or the second phase waiting in the Run key for the shell's next start. Each case runs
// the phases through RunDLL32 and winsim on a fresh machine of each flavour and code page, and reads
// the outcome from the machine.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <winsim/call.h>
#include <winsim/machine.h>

#include "library_machine.h"
#include "run.h"

namespace pnp_tests {
namespace {

using testing_support::WaitUntil;
using testing_support::Winsim;

constexpr auto kBound = std::chrono::seconds(60);
constexpr char kNode[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
constexpr char kModel[] = "Kdr 4471 PCL6";
const std::string kLine = std::string(kNode) + " C:\\Kdr";
const std::string kSecondPhaseCommand = "RunDLL32 K4471PNP,StartPrinterInstallation " + kLine;

struct Flavour {
  winsim::WindowsFlavour os;
  unsigned codepage;
};

std::vector<std::string> FirstPhase(const std::string& line) {
  return {"run", "RUNDLL32.EXE K4471PNP,SchedulePrinterInstallation" + (line.empty() ? "" : " " + line)};
}
std::vector<std::string> SecondPhase(const std::string& line) {
  return {"run", "RUNDLL32.EXE K4471PNP,StartPrinterInstallation" + (line.empty() ? "" : " " + line)};
}
const std::vector<std::string> kShellStart = {"shell", "start"};
const std::vector<std::string> kShellStop = {"shell", "stop"};
const std::vector<std::string> kShellStartWaiting = {"shell", "start", "--wait"};

void Node(const LibraryMachine& machine) {
  machine.AddDeviceNode(kNode, kModel);
  machine.PutSetupProgram("C:\\Kdr\\Setup.Exe");
}
// What the first phase leaves without the shell.
void Scheduled(const LibraryMachine& machine) {
  Node(machine);
  WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(4, '\0'));
  WriteValue(kRunKey, kModel, REG_SZ, Sz(kSecondPhaseCommand).data);
}
// A "Model", and with it a mark, at the root of HKEY_LOCAL_MACHINE, where no device node path leads.
void RootModel(const LibraryMachine& machine) {
  Scheduled(machine);
  WriteValue("", "Model", REG_SZ, Sz(kModel).data);
}
void RootMarked(const LibraryMachine& machine) {
  RootModel(machine);
  WriteValue("", "ConfigFlags", REG_BINARY, std::string(4, '\0'));
}

struct OutcomeCase {
  const char* name;
  std::function<void(const LibraryMachine&)> prepare;
  std::vector<std::vector<std::string>> commands;  // winsim commands, in turn
  const char* text;                                // the one error box; null: none
  const char* caption;
  bool config_flags;                     // "ConfigFlags" in the device node afterwards
  std::optional<std::string> run_value;  // the Run value named after the model, without its NUL
  const char* started;                   // the program started once, by its file name; null: none
  bool only_98 = false;
};

const char kNotRegistered[] = "Failed to register second phase in Shell's section of the registry.";
const char kNoModel[] = "No printer Model name in DevNode?";
const char kCorrupted[] = "Corrupted DevNode or Failure to clean up Shell section of the registry.";
const char kNotStarted[] = "Failed to start the setup program from the installation directory.";
const char kFirstCaption[] = "Internal Failure in Kdr_Install!";
const char kSecondCaption[] = "Internal Failure in Delayed_Kdr_Install!";

winsim::FaultRule Refuse(const char* call, const std::string& match, DWORD error) { return {call, match, error, 1, 0}; }

const OutcomeCase kCases[] = {
    {"the Run value cannot be written",
     [](auto& m) {
       Node(m);
       winsim::AddFault(Refuse("RegSetValueExA", kModel, ERROR_ACCESS_DENIED));
     },
     {FirstPhase(kLine)},
     kNotRegistered,
     kFirstCaption,
     true,
     std::nullopt,
     nullptr},
    // NT takes value names of up to 16,383 characters.
    {"a model name too long for a value name",
     [](auto& m) {
       m.AddDeviceNode(kNode, std::string(300, 'K'));
       m.PutSetupProgram("C:\\Kdr\\Setup.Exe");
     },
     {FirstPhase(kLine)},
     kNotRegistered,
     kFirstCaption,
     true,
     std::nullopt,
     nullptr,
     true},
    {"the shell runs but the second phase does not start: it waits in the Run key",
     [](auto& m) {
       Node(m);
       winsim::AddFault(Refuse("WinExec", "", ERROR_FILE_NOT_FOUND));
     },
     {kShellStart, FirstPhase(kLine)},
     nullptr,
     nullptr,
     true,
     kSecondPhaseCommand,
     nullptr},
    {"the shell's next start then completes the installation",
     [](auto& m) {
       Node(m);
       winsim::AddFault(Refuse("WinExec", "", ERROR_FILE_NOT_FOUND));
     },
     {kShellStart, FirstPhase(kLine), kShellStop, kShellStartWaiting},
     nullptr,
     nullptr,
     true,
     std::nullopt,
     "Setup.Exe"},
    {"the second phase neither starts nor can be stored",
     [](auto& m) {
       Node(m);
       winsim::AddFault(Refuse("WinExec", "", ERROR_FILE_NOT_FOUND));
       winsim::AddFault(Refuse("RegSetValueExA", kModel, ERROR_ACCESS_DENIED));
     },
     {kShellStart, FirstPhase(kLine)},
     kNotRegistered,
     kFirstCaption,
     true,
     std::nullopt,
     nullptr},
    {"first phase without a device node path",
     RootModel,
     {FirstPhase("")},
     kNoModel,
     kFirstCaption,
     true,
     kSecondPhaseCommand,
     nullptr},
    {"second phase without a device node path",
     RootMarked,
     {SecondPhase("")},
     kCorrupted,
     kSecondCaption,
     true,
     kSecondPhaseCommand,
     nullptr},
    {"a double quote in the installation folder",
     [](auto& m) {
       Scheduled(m);
       // Where the folder's first part would lead if the quote ended the quoting.
       m.PutSetupProgram("C:\\A.exe");
     },
     {SecondPhase(std::string(kNode) + " C:\\A\" B")},
     kNotStarted,
     kSecondCaption,
     true,
     std::nullopt,
     nullptr},
};

class InstallationOutcome : public testing::TestWithParam<Flavour> {};

TEST_P(InstallationOutcome, EndsWithTheSetupProgramAnErrorBoxOrARunValue) {
  for (const OutcomeCase& c : kCases) {
    if (c.only_98 && GetParam().os != winsim::WindowsFlavour::Win98) continue;
    SCOPED_TRACE(c.name);
    LibraryMachine machine(GetParam().os, GetParam().codepage);
    c.prepare(machine);
    const std::string root_before = ReadValue("", "ConfigFlags") ? "marked" : "";

    for (const auto& command : c.commands) {
      const auto result = Winsim(machine.Folder(), command);
      ASSERT_EQ(result.exit_code, 0) << command.front() << ": " << result.err;
    }
    if (c.started) {
      EXPECT_TRUE(WaitUntil([&] { return StartsOf(c.started).count >= 1; }, kBound));
    }
    ASSERT_TRUE(WaitUntil([] { return !LockEventExists(); }, kBound));

    const auto boxes = Boxes();
    if (c.text) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.text);
      EXPECT_EQ(boxes[0].caption, c.caption);
    } else {
      EXPECT_EQ(boxes.size(), 0u);
    }
    EXPECT_EQ(ReadValue(kNode, "ConfigFlags").has_value(), c.config_flags);
    const auto run_value = ReadValue(kRunKey, kModel);
    if (c.run_value) {
      EXPECT_EQ(run_value, Sz(*c.run_value));
    } else {
      EXPECT_FALSE(run_value.has_value()) << run_value->data;
    }
    for (const char* program : {"Setup.Exe", "A.exe"}) {
      EXPECT_EQ(StartsOf(program).count, c.started && std::string(c.started) == program ? 1u : 0u) << program;
    }
    // Nothing was read or written at the root of the registry: the mark there is as it was.
    EXPECT_EQ(ReadValue("", "ConfigFlags") ? "marked" : "", root_before);
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, InstallationOutcome,
                         testing::Values(Flavour{winsim::WindowsFlavour::Win98, 1252},
                                         Flavour{winsim::WindowsFlavour::Win98, 932},
                                         Flavour{winsim::WindowsFlavour::Nt4, 1252},
                                         Flavour{winsim::WindowsFlavour::Nt4, 932}),
                         [](const testing::TestParamInfo<Flavour>& info) {
                           return std::string(info.param.os == winsim::WindowsFlavour::Win98 ? "Win98" : "Nt4") + "_" +
                                  std::to_string(info.param.codepage);
                         });

}  // namespace
}  // namespace pnp_tests
