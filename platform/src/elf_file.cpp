#include "elf_file.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace winsim {
namespace {

bool ReadAt(std::ifstream& in, uint64_t offset, void* out, size_t size) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
  return in.gcount() == static_cast<std::streamsize>(size);
}

bool ReadHeader(std::ifstream& in, Elf64_Ehdr* header) {
  return ReadAt(in, 0, header, sizeof *header) && std::memcmp(header->e_ident, ELFMAG, SELFMAG) == 0 &&
         header->e_ident[EI_CLASS] == ELFCLASS64;
}

}  // namespace

bool IsSharedObject(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header;
  return in && ReadHeader(in, &header) && header.e_type == ET_DYN;
}

std::optional<LoadedSection> FindLoadedSection(const std::filesystem::path& file, std::string_view name) {
  std::ifstream in(file, std::ios::binary);
  Elf64_Ehdr header;
  if (!in || !ReadHeader(in, &header) || header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum == 0 ||
      header.e_shstrndx >= header.e_shnum)
    return std::nullopt;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!ReadAt(in, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr))) return std::nullopt;
  const Elf64_Shdr& names_header = sections[header.e_shstrndx];
  if (names_header.sh_size > (1u << 20)) return std::nullopt;
  std::vector<char> names(names_header.sh_size + 1, '\0');
  if (!ReadAt(in, names_header.sh_offset, names.data(), names_header.sh_size)) return std::nullopt;
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= names_header.sh_size || names.data() + section.sh_name != name) continue;
    if (!(section.sh_flags & SHF_ALLOC) || section.sh_type == SHT_NOBITS) return std::nullopt;
    return LoadedSection{section.sh_addr, section.sh_size};
  }
  return std::nullopt;
}

}  // namespace winsim
