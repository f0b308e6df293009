// The setup program's path when the installation folder ends in a double-byte character.
#include <gtest/gtest.h>

#include "library_machine.h"
#include "run.h"

namespace pnp_tests {
namespace {

constexpr char kNode[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
constexpr char kModel[] = "Kdr 4471 PCL6";

TEST(SetupProgram, AFolderWhoseLastCharacterEndsInByte5CStillGetsABackslash) {
  LibraryMachine machine(winsim::WindowsFlavour::Win98, 932);
  // 0x95 0x5C is one character of code page 932; its trail byte is the backslash's byte.
  const std::string folder = "C:\\Kdr\x95\x5c";
  machine.AddDeviceNode(kNode, kModel);
  WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(4, '\0'));
  WriteValue(kRunKey, kModel, REG_SZ, "RunDLL32\0");
  ASSERT_EQ(testing_support::Winsim(machine.Folder(), {"put", testing_support::BinPath("setup_standin.exe").string(),
                                                       folder + "\\Setup.Exe"})
                .exit_code,
            0);

  machine.Start((std::string(kNode) + " " + folder).c_str());
  ASSERT_TRUE(Boxes().empty());
  ASSERT_TRUE(testing_support::WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }));
  EXPECT_EQ(StartsOf("Setup.Exe").command_line, "\"" + folder + "\\Setup.Exe\"");
}

}  // namespace
}  // namespace pnp_tests
