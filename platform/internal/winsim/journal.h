// The machine's journal: the message boxes that programs showed and the restart requests they
// made, oldest first.
#ifndef WINSIM_JOURNAL_H
#define WINSIM_JOURNAL_H

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

struct JournalEntry {
  int64_t id = 0;
  std::string kind;   // "box" or "restart"
  std::string state;  // box: "open" or "closed"; restart: "requested" or "refused"
  std::string program;
  int pid = 0;
  uint64_t owner = 0;                  // a box's owner window as the program passed it
  std::optional<std::string> caption;  // boxes only
  std::optional<std::string> text;     // boxes only; null when the program passed none
  UINT type = 0;                       // a box's MB_ flags, a restart's EWX_ flags
};
std::vector<JournalEntry> ListJournal();
// Empties the journal; a program waiting on an open box gets its answer.
void ClearJournal();

// While the machine holds boxes, each box stays open until it is closed here.
bool HoldingBoxes();
void SetHoldBoxes(bool hold);
// Closes one open box; false when there is no open box with this id.
bool CloseBox(int64_t id);
// Closes every open box; how many were open.
int CloseAllBoxes();

// For the layer's calls. A box is recorded open while the machine holds boxes, else closed.
int64_t RecordBox(HWND owner, std::string_view caption, const char* text, UINT type);
bool BoxOpen(int64_t id);
void RecordRestart(UINT flags, bool refused);

}  // namespace winsim

#endif
