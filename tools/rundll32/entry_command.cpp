#include "entry_command.h"

#include <cstring>

std::optional<EntryCommand> ParseEntryCommand(const char* tail) {
  if (!tail) return std::nullopt;
  const char* comma = std::strchr(tail, ',');
  if (!comma || comma == tail) return std::nullopt;
  EntryCommand command;
  command.library.assign(tail, comma);
  if (command.library.find_first_of(" \t\"") != std::string::npos) return std::nullopt;
  const char* entry = comma + 1;
  const char* end = entry + std::strcspn(entry, " \t");
  if (end == entry) return std::nullopt;
  command.entry.assign(entry, end);
  command.arguments = *end ? end + 1 : end;
  return command;
}
