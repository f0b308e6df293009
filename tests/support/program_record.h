// What test programs leave behind about a run: one file per run in a folder of the machine, made of
// NAME=VALUE lines, that appears whole (written as FILE.part, then renamed).
#ifndef TESTS_PROGRAM_RECORD_H
#define TESTS_PROGRAM_RECORD_H

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

using ProgramRecord = std::map<std::string, std::string>;

inline std::vector<ProgramRecord> ReadProgramRecords(const std::filesystem::path& folder) {
  std::vector<ProgramRecord> records;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".part") continue;
    ProgramRecord record;
    std::ifstream in(it->path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos) record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace testing_support

#endif
