#include "compile_error.h"
#include "module_definition.h"
#include "rc_script.h"

#include <winsim/module_image.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace winrc {
namespace {

class Folder {
 public:
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "winrc-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path Write(const std::string& name, const std::string& content) const {
    fs::path file = path_ / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }

 private:
  fs::path path_;
};

std::map<uint32_t, std::string> Strings(const CompiledScript& compiled) {
  std::map<uint32_t, std::string> out;
  for (const Resource& r : compiled.resources) {
    EXPECT_EQ(r.type, kStringType);
    out[r.id] = std::string(r.data.begin(), r.data.end());
  }
  return out;
}

constexpr const char* kHeader =
    "//{{NO_DEPENDENCIES}}\n"
    "#define IDS_CAPTION 303\n"
    "#define IDS_HEX 0x141\n"
    "#define IDS_PAREN (348)\n"
    "#define IDS_EXPR (IDS_CAPTION + 1)\n"
    "int HeaderDeclaration(void);  /* a header gives only its macros */\n"
    "#ifdef APSTUDIO_INVOKED\n"
    "#define _APS_NEXT_RESOURCE_VALUE 101\n"
    "#endif\n";

TEST(ResourceScript, StringTables) {
  struct Case {
    const char* name;
    const char* script;
    std::map<uint32_t, std::string> strings;
  };
  const Case cases[] = {
      {"symbols, numbers, optional commas",
       "#include \"resource.h\"\nSTRINGTABLE DISCARDABLE\nBEGIN\n  IDS_CAPTION \"Program Manager\"\n"
       "  IDS_HEX, \"hex\"\n  IDS_PAREN,\"paren\"\n  7 \"seven\"\nEND\n",
       {{303, "Program Manager"}, {321, "hex"}, {348, "paren"}, {7, "seven"}}},
      {"escapes and doubled quotes",
       "STRINGTABLE\nBEGIN\n 1 \"a \"\"q\"\" b\"\n 2 \"tab\\there\\nnew\"\n 3 \"back\\\\slash \\\"x\\\"\"\n"
       " 4 \"C:\\WINDOWS\"\n 5 \"\"\nEND\n",
       {{1, "a \"q\" b"}, {2, "tab\there\nnew"}, {3, "back\\slash \"x\""}, {4, "C:\\WINDOWS"}, {5, ""}}},
      {"comments, LANGUAGE, braces, several tables",
       "// a \"quoted\" comment\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n/* STRINGTABLE BEGIN 9 \"no\" END\n*/\n"
       "STRINGTABLE LANGUAGE 9, 1 { 1 \"one\" // not \"this\"\n}\nSTRINGTABLE BEGIN 2 \"two /* kept */\" END\n",
       {{1, "one"}, {2, "two /* kept */"}}},
      {"the resource editor's bookkeeping drops out",
       "#include \"resource.h\"\n#ifdef APSTUDIO_INVOKED\n"
       "1 TEXTINCLUDE\nBEGIN\n    \"resource.h\\0\"\nEND\n#endif\n#ifndef APSTUDIO_INVOKED\n"
       "STRINGTABLE BEGIN IDS_CAPTION \"kept\" END\n#endif\n"
       "#if defined(RC_INVOKED) && !defined(APSTUDIO_INVOKED)\nSTRINGTABLE BEGIN 1 \"if\" END\n#else\n"
       "STRINGTABLE BEGIN 2 \"else\" END\n#endif\n#pragma code_page(1252)\n",
       {{303, "kept"}, {1, "if"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder;
    folder.Write("resource.h", kHeader);
    CompiledScript compiled = CompileScript(folder.Write("app.rc", c.script));
    EXPECT_EQ(Strings(compiled), c.strings);
  }
}

TEST(ResourceScript, FaultsAreNamedWithTheirLine) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"#include \"resource.h\"\nSTRINGTABLE\nBEGIN\n IDS_MISSING \"x\"\nEND\n",
       "app.rc:4: unknown symbol IDS_MISSING"},
      {"#include \"resource.h\"\nSTRINGTABLE BEGIN\n IDS_EXPR \"x\"\nEND\n",
       "app.rc:3: a resource id in parentheses must be a plain number"},
      {"STRINGTABLE BEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", "app.rc:3: duplicate string id 1"},
      {"STRINGTABLE BEGIN\n 1 \"open\nEND\n", "app.rc:2: unterminated string"},
      {"STRINGTABLE BEGIN\n 1 \"a\"\n", "app.rc:1: STRINGTABLE without END"},
      {"STRINGTABLE BEGIN 70000 \"a\" END\n", "app.rc:1: id 70000 is above 65535"},
      {"STRINGTABLE BEGIN 1 2 END\n", "app.rc:1: expected a quoted string for string id 1"},
      {"\n1 DIALOG 0, 0, 10, 10\n", "app.rc:2: unsupported statement '1 DIALOG'"},
      // The preprocessor's own errors, named with their line.
      {"#ifdef X\nSTRINGTABLE BEGIN END\n", "app.rc:1:"},
      {"#endif\n", "app.rc:1:"},
      {"#if (1\n#endif\n", "app.rc:1:"},
      {"\n#include \"nowhere.h\"\n", "app.rc:2:"},
      {"1 ICON \"missing.ico\"\n", "app.rc:1: cannot read icon file"},
      {"1 ICON \"bad.ico\"\n", "app.rc:1: " /* path follows */},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Folder folder;
    folder.Write("resource.h", kHeader);
    folder.Write("bad.ico", "not an icon");
    fs::path script = folder.Write("app.rc", c.script);
    try {
      CompileScript(script);
      ADD_FAILURE() << "compiled";
    } catch (const CompileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

// An icon file of `count` images, each `image_size` bytes of the byte (i + 1).
std::string IconFile(int count, uint32_t image_size) {
  std::string out;
  auto word = [&](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
  auto dword = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  word(0);
  word(1);
  word(static_cast<uint16_t>(count));
  for (int i = 0; i < count; ++i) {
    out += static_cast<char>(16 * (i + 1));
    out += static_cast<char>(16 * (i + 1));
    out += static_cast<char>(16);
    out += '\0';
    word(1);
    word(4);
    dword(image_size);
    dword(static_cast<uint32_t>(6 + 16 * count + image_size * i));
  }
  for (int i = 0; i < count; ++i) out.append(image_size, static_cast<char>(i + 1));
  return out;
}

TEST(ResourceScript, IconsSplitIntoImagesAndGroups) {
  Folder folder;
  folder.Write("resource.h", "#define IDI_MAIN 101\n");
  folder.Write("res/two.ico", IconFile(2, 8));
  folder.Write("one.ico", IconFile(1, 12));
  CompiledScript compiled = CompileScript(folder.Write(
      "app.rc", "#include \"resource.h\"\nIDI_MAIN ICON DISCARDABLE \"res\\\\two.ico\"\n7 ICON \"one.ico\"\n"));

  using Key = std::pair<uint32_t, uint32_t>;
  std::map<Key, std::vector<uint8_t>> by_key;
  for (const Resource& r : compiled.resources) by_key[Key(r.type, r.id)] = r.data;
  ASSERT_EQ(by_key.size(), 5u);
  EXPECT_EQ(by_key[Key(kIconType, 1)], std::vector<uint8_t>(8, 1));
  EXPECT_EQ(by_key[Key(kIconType, 2)], std::vector<uint8_t>(8, 2));
  EXPECT_EQ(by_key[Key(kIconType, 3)], std::vector<uint8_t>(12, 1));

  struct Expected {
    uint32_t group;
    std::vector<std::pair<uint8_t, uint16_t>> images;  // width, RT_ICON id
  };
  for (const Expected& e : {Expected{101, {{16, 1}, {32, 2}}}, Expected{7, {{16, 3}}}}) {
    SCOPED_TRACE(e.group);
    const std::vector<uint8_t>& dir = by_key[Key(kGroupIconType, e.group)];
    ASSERT_EQ(dir.size(), sizeof(winsim::GroupIconHeader) + e.images.size() * sizeof(winsim::GroupIconEntry));
    winsim::GroupIconHeader header;
    std::memcpy(&header, dir.data(), sizeof header);
    EXPECT_EQ(header.reserved, 0);
    EXPECT_EQ(header.type, 1);
    EXPECT_EQ(header.count, e.images.size());
    for (size_t i = 0; i < e.images.size(); ++i) {
      winsim::GroupIconEntry entry;
      std::memcpy(&entry, dir.data() + sizeof header + i * sizeof entry, sizeof entry);
      EXPECT_EQ(entry.width, e.images[i].first);
      EXPECT_EQ(entry.color_count, 16);
      EXPECT_EQ(entry.planes, 1);
      EXPECT_EQ(entry.bit_count, 4);
      EXPECT_EQ(entry.bytes_in_res, e.group == 7 ? 12u : 8u);
      EXPECT_EQ(entry.id, e.images[i].second);
    }
  }
}

TEST(ResourceScript, DamagedIconFilesAreRefused) {
  std::string cut = IconFile(1, 8);
  cut.resize(cut.size() - 1);
  std::string no_images = IconFile(1, 8);
  no_images[4] = 0;
  for (const std::string& bytes : {cut, no_images, std::string("\0\0\2\0\1\0", 6), std::string("\0\0", 2)}) {
    Folder folder;
    folder.Write("x.ico", bytes);
    EXPECT_THROW(CompileScript(folder.Write("app.rc", "1 ICON \"x.ico\"\n")), CompileError);
  }
}

TEST(ModuleDefinitionFile, ExportsNamesAndOrdinals) {
  ModuleDefinition def = ParseModuleDefinition(
      "; the library's exports\n"
      "LIBRARY K4471PNP\n"
      "DESCRIPTION \"kit\"\n"
      "EXPORTS\n"
      "    ?CleanPnpKeys@@YAXXZ=CleanPnpKeys @1 ; decorated\n"
      "    Later\n"
      "    SchedulePrinterInstallation @ 3\n"
      "    Hidden=HiddenImpl @2 NONAME PRIVATE\n"
      "    Last\n",
      "k.def");
  EXPECT_EQ(def.library, "K4471PNP.dll");
  struct Row {
    const char* name;
    const char* internal;
    uint32_t ordinal;
    bool by_ordinal_only;
  };
  const Row rows[] = {{"?CleanPnpKeys@@YAXXZ", "CleanPnpKeys", 1, false},
                      {"Later", "Later", 4, false},
                      {"SchedulePrinterInstallation", "SchedulePrinterInstallation", 3, false},
                      {"Hidden", "HiddenImpl", 2, true},
                      {"Last", "Last", 5, false}};
  ASSERT_EQ(def.exports.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(def.exports[i].name, rows[i].name);
    EXPECT_EQ(def.exports[i].internal, rows[i].internal);
    EXPECT_EQ(def.exports[i].ordinal, rows[i].ordinal);
    EXPECT_EQ(def.exports[i].by_ordinal_only, rows[i].by_ordinal_only);
  }
  EXPECT_EQ(ParseModuleDefinition("LIBRARY \"lib.drv\" BASE=0x10000000\nEXPORTS A\n", "d").library, "lib.drv");
  EXPECT_EQ(ParseModuleDefinition("EXPORTS A @1\n", "d").library, "");
}

TEST(ModuleDefinitionFile, FaultsAreNamedWithTheirLine) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"EXPORTS\n A @1\n A @2\n", "d.def:3: export A listed twice"},
      {"EXPORTS\n A @1\n B @1\n", "d.def:3: ordinal 1 used twice"},
      {"EXPORTS\n ?F@@YAXXZ @1\n", "d.def:2: '?F@@YAXXZ' is not a C symbol"},
      {"EXPORTS\n A @0\n", "d.def:2: ordinal '0' is not between 1 and 65535"},
      {"EXPORTS\n A @70000\n", "d.def:2: ordinal '70000'"},
      {"EXPORTS\n A NONAME\n", "d.def:2: NONAME export A needs an ordinal"},
      {"EXPORTS\n A @1 EXTRA\n", "d.def:2: unexpected 'EXTRA'"},
      {"EXPORTS\n A=\n", "d.def:2: expected an internal name"},
      {"A @1\n", "d.def:1: 'A' outside EXPORTS"},
      {"LIBRARY a\nLIBRARY b\n", "d.def:2: a second LIBRARY"},
      {"SECTIONS\n", "d.def:1: unsupported statement SECTIONS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseModuleDefinition(c.text, "d.def");
      ADD_FAILURE() << "parsed";
    } catch (const CompileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace winrc
