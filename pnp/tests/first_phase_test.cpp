// The first phase in this process, with the shell not running: what it reads from the device node,
// how it splits the installer command line, and the Run value it leaves for the second phase.
#include <gtest/gtest.h>

#include <map>

#include "library_machine.h"

namespace pnp_tests {
namespace {

constexpr char kNode[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
constexpr char kSecondPhase[] = "RunDLL32 K4471PNP,StartPrinterInstallation ";

struct ModelCase {
  const char* name;
  bool node;
  DWORD type;
  std::string data;
  const char* model;  // null: no model, the phase shows its box and writes nothing
};

TEST(FirstPhase, ReadsTheModelOnlyFromNonEmptyRegSzDataUpToItsFirstNul) {
  using namespace std::string_literals;
  const ModelCase cases[] = {
      {"terminated text", true, REG_SZ, "Kdr 4471 PCL6\0"s, "Kdr 4471 PCL6"},
      {"text without terminator", true, REG_SZ, "Kdr 4471"s, "Kdr 4471"},
      {"NUL before the end", true, REG_SZ, "Kdr\0 4471\0"s, "Kdr"},
      {"a single byte", true, REG_SZ, "K"s, "K"},
      {"size 0", true, REG_SZ, ""s, nullptr},
      {"a lone NUL", true, REG_SZ, "\0"s, nullptr},
      {"REG_EXPAND_SZ", true, REG_EXPAND_SZ, "Kdr 4471\0"s, nullptr},
      {"REG_BINARY", true, REG_BINARY, "Kdr 4471\0"s, nullptr},
      {"REG_MULTI_SZ", true, REG_MULTI_SZ, "Kdr 4471\0\0"s, nullptr},
      {"no Model value", true, REG_NONE, ""s, nullptr},
      {"no device node", false, REG_NONE, ""s, nullptr},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    if (c.node) WriteValue(kNode, c.type == REG_NONE ? "Other" : "Model", c.type == REG_NONE ? REG_SZ : c.type, c.data);
    const std::string before = RegistryText(machine);
    const std::string command_line = std::string(kNode) + " C:\\Kdr";

    machine.Schedule(command_line.c_str());

    auto boxes = Boxes();
    if (c.model) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(ReadValue(kNode, "ConfigFlags"), kConfigFlagsMark);
      EXPECT_EQ(ReadValue(kRunKey, c.model), Sz(kSecondPhase + command_line));
    } else {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, "No printer Model name in DevNode?");
      EXPECT_EQ(boxes[0].caption, "Internal Failure in Kdr_Install!");
      EXPECT_EQ(RegistryText(machine), before);
    }
    EXPECT_EQ(OpenHandlesBesides(machine.Library()), std::vector<std::string>());
    EXPECT_FALSE(LockEventExists());
  }
}

TEST(FirstPhase, MarkReplacesAConfigFlagsValueOfAnyTypeOrSize) {
  LibraryMachine machine;
  machine.AddDeviceNode(kNode, "Kdr 4471");
  WriteValue(kNode, "ConfigFlags", REG_DWORD, std::string("\x07\0\0\0", 4));
  machine.Schedule((std::string(kNode) + " C:\\Kdr").c_str());
  EXPECT_EQ(ReadValue(kNode, "ConfigFlags"), kConfigFlagsMark);
  WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(12, '\x5a'));
  machine.Schedule((std::string(kNode) + " C:\\Kdr").c_str());
  EXPECT_EQ(ReadValue(kNode, "ConfigFlags"), kConfigFlagsMark);
}

struct SplitCase {
  const char* name;
  const char* command_line;  // handed to the phase as is; null stays null
  const char* node;          // the device node that gets the mark; null: none, the box instead
};

TEST(FirstPhase, SplitsAtTheFirstBlankAndHandsTheWholeLineOn) {
  // Besides kNode, nodes named as the whole of a line would be, with and without its leading blank.
  const std::string whole_line = " Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr";
  const std::string trimmed_line = whole_line.substr(1);
  const std::map<std::string, std::string> models = {
      {kNode, "Kdr 4471"}, {whole_line, "Whole line"}, {trimmed_line, "Trimmed line"}};
  const SplitCase cases[] = {
      {"node and folder", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr", kNode},
      {"folder with blanks", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Program Files\\Kdr Setup\\", kNode},
      {"two blanks: the folder keeps one", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1  C:\\Kdr", kNode},
      {"no blank: all of it is the node", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", kNode},
      {"node followed by a blank alone", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 ", kNode},
      {"leading blank: all of it is the node", whole_line.c_str(), whole_line.c_str()},
      {"empty", "", nullptr},
      {"null, as a program calling the export may pass", nullptr, nullptr},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    for (const auto& [node, model] : models) machine.AddDeviceNode(node, model);

    machine.Schedule(c.command_line);

    for (const auto& [node, model] : models) {
      const bool marked = c.node && node == c.node;
      EXPECT_EQ(ReadValue(node, "ConfigFlags").has_value(), marked) << node;
      if (marked) {
        EXPECT_EQ(ReadValue(kRunKey, model), Sz(std::string(kSecondPhase) + c.command_line));
      } else {
        EXPECT_FALSE(ReadValue(kRunKey, model).has_value()) << model;
      }
    }
    EXPECT_EQ(Boxes().size(), c.node ? 0u : 1u);
  }
}

TEST(FirstPhase, ASecondInstallOfTheSameModelReplacesTheRunValue) {
  LibraryMachine machine;
  machine.AddDeviceNode("Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", "Kdr 4471");
  machine.AddDeviceNode("Enum\\LPTENUM\\QUORLK44710E4E\\LPT2", "Kdr 4471");
  machine.Schedule("Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr\\First");
  machine.Schedule("Enum\\LPTENUM\\QUORLK44710E4E\\LPT2 C:\\Kdr\\Second");
  EXPECT_EQ(ReadValue(kRunKey, "Kdr 4471"),
            Sz(std::string(kSecondPhase) + "Enum\\LPTENUM\\QUORLK44710E4E\\LPT2 C:\\Kdr\\Second"));
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
}  // namespace pnp_tests
