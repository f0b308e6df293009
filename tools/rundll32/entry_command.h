// RunDLL32's command tail: "library,entry arguments".
#ifndef RUNDLL32_ENTRY_COMMAND_H
#define RUNDLL32_ENTRY_COMMAND_H

#include <optional>
#include <string>

struct EntryCommand {
  std::string library;    // as given: no blanks, commas or quotes
  std::string entry;      // matched exactly
  std::string arguments;  // the rest after the entry name and its one blank, possibly empty
};

// Nullopt when the tail does not have that shape.
std::optional<EntryCommand> ParseEntryCommand(const char* tail);

#endif
